#pragma once
// Long work in the window: the task runs on the worker thread while the
// interface thread serves a modal progress dialog (CWorkerDlg). The worker
// reaches the dialog only through queued calls (its progress) and
// hand-overs (questions, through QtPrompter; see ui/hand_over.h).

#include <QPointer>

#include <functional>
#include <memory>
#include <QString>
#include <QWidget>

#include "worker/frontend.h"

namespace relictor {

class CWorkerDlg;

class QtJobRunner final : public JobRunner {
 public:
  // Dialogs are shown over `parent` (none: over the active window).
  explicit QtJobRunner(QWidget* parent = nullptr) : parent_(parent) {}

  bool Run(WorkerTask& task, const JobInfo& info) override;
  // The same for a saving job, whose dialog shows the output folder.
  bool Run(WorkerTask& task, const JobInfo& info, const QString& location);

  // What the runner holds from before a job's worker starts until it has
  // ended: the window holds its background readers of the volumes (the
  // thumbnails) out of the job's way with it.
  using Guard = std::function<std::shared_ptr<void>()>;
  void SetGuard(Guard guard) { guard_ = std::move(guard); }

  // Whether the last run was stopped by the user.
  bool WasCancelled() const { return cancelled_; }

  // The kind of the job whose progress dialog is up; false when none is.
  bool Busy(JobKind* kind = nullptr) const;
  // Stops the job whose dialog is up, as its Cancel button does: the
  // dialog stays until the worker has wound down, and the run reports a
  // cancel.
  void Cancel();
  // Asks whatever worker runs to stop and waits for it, dispatching events
  // (but no input) meanwhile, at most `timeoutMs`; false when the worker
  // is still running then.
  static bool WaitForWorkerEnd(int timeoutMs);

  // Waits for the next event (at most a millisecond) and dispatches it;
  // what StopWorker calls while a worker winds down. Input is held back, so
  // that nothing reaches the window's tree while the worker may still use
  // it.
  static bool PumpEvents();

 private:
  QPointer<QWidget> parent_;
  QPointer<CWorkerDlg> dialog_;
  bool cancelled_ = false;
  Guard guard_;
};

}  // namespace relictor
