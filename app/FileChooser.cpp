#include "app/FileChooser.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QStringList>

namespace {

constexpr QChar kClassicSeparator = QLatin1Char('|');

QString Choose(QWidget* parent, const FileChooserSetup& setup, QFileDialog::AcceptMode mode) {
    QFileDialog dialog(parent, setup.title, setup.initialFolder, QtFilterFromClassic(setup.filter));
    dialog.setAcceptMode(mode);
    dialog.setFileMode(mode == QFileDialog::AcceptOpen ? QFileDialog::ExistingFile
                                                       : QFileDialog::AnyFile);
    dialog.setDefaultSuffix(DefaultSuffixFromExtension(setup.defaultExtension));
    dialog.setOption(QFileDialog::ReadOnly, false);
    for (;;) {
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
            return QString();
        }
        const QString chosen = dialog.selectedFiles().constFirst();
        // A save never goes to a file that cannot be written: ask again.
        const QFileInfo info(chosen);
        if (mode == QFileDialog::AcceptOpen || !info.exists() || info.isWritable()) {
            return chosen;
        }
    }
}

}  // namespace

QString QtFilterFromClassic(const QString& classic) {
    const QStringList parts = classic.split(kClassicSeparator);
    QStringList filters;
    for (int i = 0; i + 1 < parts.size(); i += 2) {
        QString name = parts[i].trimmed();
        const QString patterns = parts[i + 1].trimmed();
        if (name.isEmpty() || patterns.isEmpty()) {
            break;  // "||" ends the list
        }
        // The display name usually repeats its patterns in parentheses;
        // QFileDialog reads them from there, separated by blanks.
        const int open = name.lastIndexOf(QLatin1Char('('));
        if (open > 0 && name.endsWith(QLatin1Char(')'))) {
            name = name.left(open).trimmed();
        }
        QString qtPatterns = patterns;
        qtPatterns.replace(QLatin1Char(';'), QLatin1Char(' '));
        filters << name + QStringLiteral(" (") + qtPatterns + QLatin1Char(')');
    }
    return filters.join(QStringLiteral(";;"));
}

QString DefaultSuffixFromExtension(const QString& extension) {
    QString first = extension.section(QLatin1Char(';'), 0, 0).trimmed();
    while (first.startsWith(QLatin1Char('*')) || first.startsWith(QLatin1Char('.'))) {
        first.remove(0, 1);
    }
    return first;
}

QString CQtFileChooser::ChooseOpenFile(QWidget* parent, const FileChooserSetup& setup) {
    return Choose(parent, setup, QFileDialog::AcceptOpen);
}

QString CQtFileChooser::ChooseSaveFile(QWidget* parent, const FileChooserSetup& setup) {
    return Choose(parent, setup, QFileDialog::AcceptSave);
}
