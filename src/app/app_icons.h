#pragma once
// The window's icons: from the desktop's icon theme where it has them,
// otherwise the program's own drawings, so that no button or node is ever
// blank.

#include <QIcon>

// `themeName` is the freedesktop icon name, `own` the name of the
// program's drawing (":/icons/<own>.svg").
QIcon AppIcon(const char* themeName, const char* own);
// The program's own drawing alone.
QIcon OwnIcon(const char* own);
// `base` with the deleted-entry mark in its lower right corner.
QIcon WithDeletedOverlay(const QIcon& base);
