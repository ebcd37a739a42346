#pragma once
// Opening a source the user names (File > Open Image...) may wait: a device
// this user may not read is opened through the disk service, which can hold
// the call while the system asks for a password, and a slow card takes its
// time over the first sectors. The window stays live meanwhile.

#include <QString>

#include <functional>
#include <optional>

#include "volume/drive_list.h"

class QObject;
class QWidget;

// Opens `path` and reads its partition table and boot sectors on a thread
// of its own, and hands the report to `done` on `context`'s thread once it
// is there. The thread owns nothing of the window's; a `context` gone by
// then (a window closed, a wait given up) simply drops the report.
void ExamineInBackground(const QString& path, QObject* context, std::function<void(relictor::SourceReport)> done);

// The same, waited for: returns what was found. A moment into the wait a
// dialog over `parent` says what is being opened; its Cancel gives up on
// the source (nullopt), as does the program quitting meanwhile.
std::optional<relictor::SourceReport> ExamineWithProgress(QWidget* parent, const QString& path);
