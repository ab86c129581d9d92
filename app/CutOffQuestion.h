// The desktop's question before fuses are written that would cut the chip off
// from its adapter: the consequence in the dialog's words, the reasons, and a
// button that says it again; Cancel is the default. Both Fuses windows ask it.
#pragma once

#include <QString>

class QWidget;

bool AskCutOffQuestion(QWidget* parent, const QString& consequence, const QString& reasons);
