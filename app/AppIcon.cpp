#include "app/AppIcon.h"

QIcon AppIcon() {
    return QIcon(QStringLiteral(":/brenwick/brenwick.png"));
}
