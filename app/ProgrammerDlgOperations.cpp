// The fifteen command buttons of the "Command" group.
#include "app/ProgrammerDlg.h"

// The programming operations attach here: each runs through RunOperation()
// so that Yield() may let the window repaint between words.
void CProgrammerDlg::OnOperationButton(int /*id*/) {}
