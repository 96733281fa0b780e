// The program's icon, drawn at the sizes a window and a task bar ask for.
#pragma once
#include <QIcon>

QIcon AppIcon();
