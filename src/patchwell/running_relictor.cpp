#include "patchwell/running_relictor.h"

#include <QDir>
#include <QFileInfo>
#include <QThread>

#include <signal.h>
#include <unistd.h>

#include <climits>
#include <string>

namespace relictor::patchwell {
namespace {

// The program file a process runs, or empty when it cannot be read (the
// process is gone, is a zombie, or belongs to another user).
QString ProgramOf(pid_t pid) {
  char target[PATH_MAX];
  std::string link = "/proc/" + std::to_string(pid) + "/exe";
  ssize_t n = ::readlink(link.c_str(), target, sizeof target - 1);
  if (n <= 0) return {};
  QString path = QFile::decodeName(QByteArray(target, static_cast<qsizetype>(n)));
  // A program file replaced or removed while running is shown so.
  const QString deleted = QStringLiteral(" (deleted)");
  if (path.endsWith(deleted)) path.chop(deleted.size());
  return path;
}

bool IsRelictorOf(const QString& program, const QString& canonicalFolder) {
  QFileInfo info(program);
  if (info.fileName().compare(QStringLiteral("relictor"), Qt::CaseInsensitive) != 0) return false;
  // The folder of a program that was replaced may still exist; compare the
  // folders, not the files.
  return QFileInfo(info.path()).canonicalFilePath() == canonicalFolder;
}

}  // namespace

std::vector<pid_t> FindRunningRelictor(const QString& folder) {
  std::vector<pid_t> found;
  const QString canonicalFolder = QFileInfo(folder).canonicalFilePath();
  if (canonicalFolder.isEmpty()) return found;
  const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
  for (const QString& entry : entries) {
    bool isNumber = false;
    const long pid = entry.toLong(&isNumber);
    if (!isNumber || pid <= 0 || pid > INT_MAX || static_cast<pid_t>(pid) == ::getpid()) continue;
    const QString program = ProgramOf(static_cast<pid_t>(pid));
    if (!program.isEmpty() && IsRelictorOf(program, canonicalFolder)) found.push_back(static_cast<pid_t>(pid));
  }
  return found;
}

bool EndPrograms(const std::vector<pid_t>& processes, std::chrono::milliseconds wait) {
  for (pid_t pid : processes) ::kill(pid, SIGTERM);
  const auto until = std::chrono::steady_clock::now() + wait;
  for (;;) {
    bool anyLeft = false;
    // A process that has ended but was not yet reaped by its parent has no
    // program any more, so it counts as gone.
    for (pid_t pid : processes) anyLeft = anyLeft || !ProgramOf(pid).isEmpty();
    if (!anyLeft) return true;
    if (std::chrono::steady_clock::now() >= until) return false;
    QThread::msleep(50);
  }
}

}  // namespace relictor::patchwell
