// The fifteen command buttons of the "Command" group.
#include "app/CommandIds.h"
#include "app/ProgrammerDlg.h"
#include "ops/Operations.h"

namespace {

using Operation = bool (COperations::*)();

struct OperationButton {
    int id;
    Operation run;
};

const OperationButton kOperationButtons[] = {
    {ids::kWriteAll, &COperations::WriteAll},     {ids::kWriteProg, &COperations::WriteProg},
    {ids::kWriteData, &COperations::WriteData},   {ids::kWriteLock, &COperations::WriteLock},
    {ids::kReadAll, &COperations::ReadAll},       {ids::kReadProg, &COperations::ReadProg},
    {ids::kReadData, &COperations::ReadData},     {ids::kReadLock, &COperations::ReadLock},
    {ids::kVerifyAll, &COperations::VerifyAll},   {ids::kVerifyProg, &COperations::VerifyProg},
    {ids::kVerifyData, &COperations::VerifyData}, {ids::kVerifyLock, &COperations::VerifyLock},
    {ids::kEraseAll, &COperations::EraseAll},     {ids::kEraseProg, &COperations::EraseProg},
    {ids::kEraseData, &COperations::EraseData},
};

}  // namespace

// Each runs to its end on this thread; the window reports through its host
// side and lets repaints through between words. The result only matters to
// the command-line tool: the pane already says what happened.
void CProgrammerDlg::OnOperationButton(int id) {
    for (const OperationButton& button : kOperationButtons) {
        if (button.id == id) {
            RunOperation([this, &button] { (m_session.Operations().*button.run)(); });
            return;
        }
    }
}
