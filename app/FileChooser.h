// Every file dialog of the window goes through this interface, so that tests
// answer it without a dialog. A filter is given as the classic
// "Name (*.a;*.b)|*.a;*.b||" text: '|' separates a display name from its
// patterns and "||" ends the list.
#pragma once

#include <QString>

class QWidget;

struct FileChooserSetup {
    QString title;
    QString filter;
    QString defaultExtension;  // ".hex"; a name typed without one gets it
    QString initialFolder;     // empty: the chooser's own choice
};

class IFileChooser {
public:
    virtual ~IFileChooser() = default;
    // An existing file to open: its full path, or an empty text when the
    // user cancelled.
    virtual QString ChooseOpenFile(QWidget* parent, const FileChooserSetup& setup) = 0;
    // A file to save to; asks before an existing file is replaced. Its full
    // path, or an empty text when the user cancelled.
    virtual QString ChooseSaveFile(QWidget* parent, const FileChooserSetup& setup) = 0;
};

// The filter list of QFileDialog ("Name (*.a *.b)") for a classic filter text.
QString QtFilterFromClassic(const QString& classic);
// The suffix QFileDialog adds to a name typed without one: the first
// extension of the default extension text, without its dot ("hex" for
// ".hex" and for ".hex;*.epp").
QString DefaultSuffixFromExtension(const QString& extension);

// The chooser of the desktop: QFileDialog, modal over parent.
class CQtFileChooser : public IFileChooser {
public:
    QString ChooseOpenFile(QWidget* parent, const FileChooserSetup& setup) override;
    QString ChooseSaveFile(QWidget* parent, const FileChooserSetup& setup) override;
};
