#include "app/DeviceChooser.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QVBoxLayout>

#include "parts/DeviceTable.h"
#include "parts/UpdiParts.h"

QStringList DeviceChoices(const QString& filter, const QStringList& recent) {
    QStringList names;
    auto offer = [&](const QString& name) {
        if (!names.contains(name) && name.contains(filter, Qt::CaseInsensitive)) {
            names << name;
        }
    };
    for (const QString& name : recent) {
        const int row = FindDevice(name.toStdString());
        if (row >= 0) {
            offer(QString::fromLatin1(g_deviceTable[row].name));
        }
    }
    // A whole toolchain id (m328p, t1614) or device number names its part
    // first, as the tool's -p and the recipe's part = take it.
    const int named = filter.isEmpty() ? -1 : FindDevice(filter.toStdString());
    if (named >= 0) {
        names << QString::fromLatin1(g_deviceTable[named].name);
    }
    for (const DeviceInfo& row : DeviceRows()) {
        // A UPDI part is found by part of its toolchain id too ("t16").
        const QString name = QString::fromLatin1(row.name);
        const bool byId =
            row.updiPart != nullptr && !filter.isEmpty() &&
            QString::fromLatin1(row.updiPart->id).contains(filter, Qt::CaseInsensitive);
        if (byId && !names.contains(name)) {
            names << name;
        }
        offer(name);
    }
    return names;
}

QStringList WithRecentDevice(const QStringList& recent, const QString& name) {
    QStringList list{name};
    for (const QString& other : recent) {
        if (list.size() < kRecentDeviceCount && !list.contains(other)) {
            list << other;
        }
    }
    return list;
}

CDeviceChooserDlg::CDeviceChooserDlg(const QStringList& recent, QWidget* parent)
    : QDialog(parent), m_recent(recent) {
    setWindowTitle(QStringLiteral("Choose Device"));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(QStringLiteral("Type part of a name:"), this));
    m_filter = new QLineEdit(this);
    layout->addWidget(m_filter);
    m_list = new QListWidget(this);
    layout->addWidget(m_list);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(m_list, &QListWidget::itemDoubleClicked, this, &QDialog::accept);
    connect(m_filter, &QLineEdit::textChanged, this, &CDeviceChooserDlg::Refill);
    Refill();
}

void CDeviceChooserDlg::Refill() {
    m_list->clear();
    m_list->addItems(DeviceChoices(m_filter->text(), m_recent));
    m_list->setCurrentRow(0);
}

QString CDeviceChooserDlg::Chosen() const {
    const QListWidgetItem* item = m_list->currentItem();
    return item != nullptr ? item->text() : QString();
}
