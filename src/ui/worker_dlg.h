#pragma once
// The modal progress dialogs of long work: "Scanning..." (an NTFS volume's
// MFT is read), "Find Lost Files..." / "Find Lost Drivers..." and "File
// Saving...". The dialog is the job's progress display: the worker reports
// through its ProgressSink, which keeps the latest values and posts one
// queued update to the dialog at a time, so that a worker reporting every
// write never floods the interface thread and never touches a widget.
//
// Cancel (the button, Escape or the close box) asks the worker to stop and
// keeps the dialog up, still serving events, until the worker has wound
// down; the dialog closes when the worker reports that it has ended. So the
// window never freezes, and nothing of the volume's tree is used by the
// interface while the worker may still be using it.

#include <QDialog>
#include <QString>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

#include "worker/frontend.h"

class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;

namespace relictor {

class CWorkerDlg : public QDialog {
  Q_OBJECT

 public:
  // `location` is the output folder a saving job shows.
  CWorkerDlg(const JobInfo& info, const QString& location, QWidget* parent = nullptr);
  ~CWorkerDlg() override;

  ProgressSink* Sink();
  JobKind Kind() const { return kind_; }
  // Whether the user asked the job to stop.
  bool Cancelled() const { return cancelled_; }

  // Called (queued) when the worker has ended: the dialog closes.
  Q_INVOKABLE void WorkerDone();

  // The dialog's texts as shown, for the window and tests.
  QString StatusText() const;
  QString CounterText() const;
  QString CurrentItemText() const;

 public slots:
  void reject() override;

 private:
  class QueuedSink;
  // Copies the latest reported values into the widgets. Invoked by name
  // from the worker, so that no captured value crosses inside Qt's event.
  Q_INVOKABLE void ApplyProgress();
  static void SetBar(QProgressBar* bar, std::uint64_t low, std::uint64_t high, std::uint64_t pos);

  JobKind kind_;
  bool cancelled_ = false;
  bool done_ = false;
  QLabel* status_ = nullptr;
  QLabel* counter_ = nullptr;
  QLabel* item_ = nullptr;
  QLineEdit* location_ = nullptr;
  QProgressBar* fileBar_ = nullptr;
  QProgressBar* overallBar_ = nullptr;
  QPushButton* ok_ = nullptr;
  QPushButton* cancel_ = nullptr;
  std::unique_ptr<QueuedSink> sink_;
};

}  // namespace relictor
