#include "app/AboutDlg.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "BrenwickVersion.h"
#include "app/AppIcon.h"

namespace {

constexpr int kIconSize = 48;

}  // namespace

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("A propos de Brenwick"));
    setWindowIcon(AppIcon());

    auto* top = new QHBoxLayout(this);
    auto* icon = new QLabel(this);
    icon->setPixmap(AppIcon().pixmap(kIconSize, kIconSize));
    top->addWidget(icon, 0, Qt::AlignTop);

    auto* text = new QVBoxLayout;
    auto* version = new QLabel(QStringLiteral("Brenwick version " BRENWICK_VERSION), this);
    version->setObjectName(QStringLiteral("labelVersion"));
    text->addWidget(version);
    text->addWidget(
        new QLabel(QStringLiteral("In-system programmer for Atmel AVR microcontrollers"), this));
    top->addLayout(text);

    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setObjectName(QStringLiteral("buttonOk"));
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    top->addWidget(ok, 0, Qt::AlignTop);

    layout()->setSizeConstraint(QLayout::SetFixedSize);
}
