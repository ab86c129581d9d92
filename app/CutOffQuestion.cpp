#include "app/CutOffQuestion.h"

#include <QMessageBox>
#include <QObject>
#include <QPushButton>

bool AskCutOffQuestion(QWidget* parent, const QString& consequence, const QString& reasons) {
    QMessageBox box(QMessageBox::Warning, QObject::tr("Fuses"), consequence.arg(reasons),
                    QMessageBox::Cancel, parent);
    QPushButton* write =
        box.addButton(QObject::tr("Write and cut the chip off"), QMessageBox::DestructiveRole);
    box.setDefaultButton(QMessageBox::Cancel);
    box.exec();
    return box.clickedButton() == write;
}
