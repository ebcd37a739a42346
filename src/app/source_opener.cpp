#include "app/source_opener.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QProgressDialog>
#include <QThread>
#include <QTimer>

#include <memory>
#include <utility>

namespace {

// How long an open may take before the dialog shows: most images open in
// a few milliseconds, and a dialog flashing up for those would only flicker.
constexpr int kQuietWaitMs = 400;

}  // namespace

void ExamineInBackground(const QString& path, QObject* context, std::function<void(relictor::SourceReport)> done) {
  // The report outlives `context` when that goes first.
  auto report = std::make_shared<relictor::SourceReport>();
  QThread* thread = QThread::create([report, p = path.toStdString()] { *report = relictor::ExamineSource(p); });
  QObject::connect(thread, &QThread::finished, thread, &QObject::deleteLater);
  QObject::connect(thread, &QThread::finished, context,
                   [report, done = std::move(done)] { done(std::move(*report)); });
  thread->start();
}

std::optional<relictor::SourceReport> ExamineWithProgress(QWidget* parent, const QString& path) {
  std::optional<relictor::SourceReport> found;
  QEventLoop loop;
  ExamineInBackground(path, &loop, [&](relictor::SourceReport report) {
    found = std::move(report);
    loop.quit();
  });

  // First a short wait that lets the window repaint but takes no input, so
  // that nothing else starts while the source is opened.
  QTimer::singleShot(kQuietWaitMs, &loop, &QEventLoop::quit);
  loop.exec(QEventLoop::ExcludeUserInputEvents);
  if (found) return found;

  QProgressDialog dialog(QCoreApplication::translate("CMainFrame", "Opening %1...").arg(path),
                         QCoreApplication::translate("CMainFrame", "Cancel"), 0, 0, parent);
  dialog.setObjectName(QStringLiteral("OpeningSource"));
  dialog.setWindowTitle(QCoreApplication::translate("CMainFrame", "Kalvor Relictor"));
  dialog.setWindowModality(Qt::ApplicationModal);
  dialog.setMinimumDuration(0);
  dialog.setAutoClose(false);
  dialog.setAutoReset(false);
  QObject::connect(&dialog, &QProgressDialog::canceled, &loop, &QEventLoop::quit);
  dialog.show();
  // Ends when the thread finishes, on Cancel, or when the program quits.
  if (!found) loop.exec();
  return found;
}
