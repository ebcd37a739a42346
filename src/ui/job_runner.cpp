#include "ui/job_runner.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QTimer>

#include <atomic>

#include "ui/worker_dlg.h"
#include "worker/worker.h"

namespace relictor {
namespace {

// Runs the real task, remembers whether it finished, and tells the dialog
// (queued) when the worker has ended.
class DialogTask final : public WorkerTask {
 public:
  DialogTask(WorkerTask& inner, CWorkerDlg* dialog) : WorkerTask(true), inner_(inner), dialog_(dialog) {}
  bool Step() override {
    if (inner_.Step()) {
      finished_.store(true, std::memory_order_release);
      return true;
    }
    return false;
  }
  void OnWorkerDone() override {
    if (inner_.AutoStart()) inner_.OnWorkerDone();
    QMetaObject::invokeMethod(dialog_, "WorkerDone", Qt::QueuedConnection);
  }
  bool Finished() const { return finished_.load(std::memory_order_acquire); }

 private:
  WorkerTask& inner_;
  CWorkerDlg* dialog_;
  std::atomic<bool> finished_{false};
};

}  // namespace

bool QtJobRunner::PumpEvents() {
  // Waits in the event loop for the next event (a hand-over from the
  // worker, its progress) and dispatches it at once. A worker that ends
  // sends no event, so a timer ends the wait after a millisecond and the
  // caller looks at the worker again.
  QTimer wake;
  wake.setSingleShot(true);
  wake.start(1);
  QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents | QEventLoop::WaitForMoreEvents);
  return !QCoreApplication::closingDown();
}

bool QtJobRunner::Busy(JobKind* kind) const {
  if (!dialog_) return false;
  if (kind) *kind = dialog_->Kind();
  return true;
}

void QtJobRunner::Cancel() {
  if (dialog_) dialog_->reject();
}

bool QtJobRunner::WaitForWorkerEnd(int timeoutMs) {
  if (!IsWorkerRunning()) return true;
  RequestStop();
  QDeadlineTimer deadline(timeoutMs);
  while (IsWorkerRunning() && !deadline.hasExpired()) {
    if (!PumpEvents()) break;
  }
  return !IsWorkerRunning();
}

bool QtJobRunner::Run(WorkerTask& task, const JobInfo& info) { return Run(task, info, QString()); }

bool QtJobRunner::Run(WorkerTask& task, const JobInfo& info, const QString& location) {
  cancelled_ = false;
  // Long work started from inside other long work (saving a folder of an
  // NTFS volume whose MFT is not loaded yet) runs on the same worker,
  // under the same stop event, with the outer job's dialog still up.
  if (IsWorkerThread()) {
    task.SetProgress(nullptr);
    return RunTaskHere(task, CurrentStopEvent());
  }
  QWidget* parent = parent_ ? parent_.data() : QApplication::activeModalWidget();
  if (!parent) parent = QApplication::activeWindow();
  const std::shared_ptr<void> guarded = guard_ ? guard_() : nullptr;
  CWorkerDlg dialog(info, location, parent);
  task.SetProgress(dialog.Sink());
  DialogTask wrapper(task, &dialog);
  if (!StartWorker(wrapper, &QtJobRunner::PumpEvents)) {
    task.SetProgress(nullptr);
    return false;
  }
  // The dialog closes when the worker has ended, whether it finished or
  // was cancelled.
  QPointer<CWorkerDlg> outer = dialog_;
  dialog_ = &dialog;
  dialog.exec();
  dialog_ = outer;
  StopWorker(&QtJobRunner::PumpEvents);
  task.SetProgress(nullptr);
  cancelled_ = dialog.Cancelled();
  // Tasks that do all their work in one step report finished even when a
  // stop cut them short, so a cancel counts as a stop either way.
  return wrapper.Finished() && !cancelled_;
}

}  // namespace relictor
