// The chooser of the Device menu's last entry: every part the program knows,
// the ones chosen last first, narrowed down by typing part of a name.
#pragma once

#include <QDialog>
#include <QString>
#include <QStringList>

class QLineEdit;
class QListWidget;

// How many parts chosen last are offered first (and kept in the settings).
constexpr int kRecentDeviceCount = 5;

// The names to offer: those of recent that name a part, in their order, then
// every other part in the table's order; only those that contain filter
// (without regard to case).
QStringList DeviceChoices(const QString& filter, const QStringList& recent);

// recent with name in front, without doubles, at most kRecentDeviceCount long.
QStringList WithRecentDevice(const QStringList& recent, const QString& name);

class CDeviceChooserDlg : public QDialog {
    Q_OBJECT

public:
    CDeviceChooserDlg(const QStringList& recent, QWidget* parent = nullptr);
    // The part chosen; empty when none was.
    QString Chosen() const;

private:
    void Refill();

    QStringList m_recent;
    QLineEdit* m_filter = nullptr;
    QListWidget* m_list = nullptr;
};
