#pragma once
// Opening a source the user names (File > Open Image...) may wait: a device
// this user may not read is opened through the disk service, which can hold
// the call while the system asks for a password, and a slow card takes its
// time over the first sectors. The window stays live meanwhile.

#include <QString>

#include <optional>

#include "volume/drive_list.h"

class QWidget;

// Opens `path` and reads its partition table and boot sectors on a thread
// of its own, and returns what was found. A moment into the wait a dialog
// over `parent` says what is being opened; its Cancel gives up on the
// source (nullopt), as does the program quitting meanwhile. A thread given
// up on finishes on its own and its result is dropped.
std::optional<relictor::SourceReport> ExamineWithProgress(QWidget* parent, const QString& path);
