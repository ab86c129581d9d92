// The application's icon, from the resources built into the program.
#pragma once

#include <QIcon>

QIcon AppIcon();
