#pragma once
// The one background worker of the program. Every long operation (loading
// the MFT, the deep scan, the lost-volume walk, saving, searching) is a task
// whose Step runs on the worker thread over and over until it reports that
// it is finished or a stop is requested. Long loops inside a step poll
// IsStopRequested and return early.
//
// Each run of the worker gets a stop event of its own. The worker slot
// holds the current run; a run that ends only ever signals, closes and
// clears its own event, so one worker's end or stop can never touch the
// event of a worker started after it. IsStopRequested answers for the
// worker thread that calls it, and on any other thread for the run the slot
// holds.

#include <atomic>
#include <functional>
#include <memory>

namespace relictor {

class ProgressSink;

class WorkerTask {
 public:
  explicit WorkerTask(bool autoStart = true) : autoStart_(autoStart) {}
  virtual ~WorkerTask() = default;
  WorkerTask(const WorkerTask&) = delete;
  WorkerTask& operator=(const WorkerTask&) = delete;

  // One unit of work; true when the whole job is finished. The base task
  // never finishes.
  virtual bool Step() { return false; }
  // The done notification: called on the worker thread after the last step
  // (finished or stopped), for tasks started with auto start.
  virtual void OnWorkerDone() {}

  bool AutoStart() const { return autoStart_; }

  // The display that the job runner attached for this run, or null.
  ProgressSink* Progress() const { return progress_; }
  void SetProgress(ProgressSink* sink) { progress_ = sink; }

 private:
  bool autoStart_;
  ProgressSink* progress_ = nullptr;
};

// A manual-reset stop event.
class StopEvent {
 public:
  void Signal() { signalled_.store(true, std::memory_order_release); }
  bool IsSignalled() const { return signalled_.load(std::memory_order_acquire); }

 private:
  std::atomic<bool> signalled_{false};
};

// Called by StopWorker while it waits, so that a front end can dispatch its
// own events (a worker may be waiting on one). Returns false when the
// application is quitting.
using EventPump = std::function<bool()>;

// Starts `task` on a new worker thread. A worker that is still running is
// stopped first (with `pump` dispatching events while it winds down).
// Returns whether the thread was created.
bool StartWorker(WorkerTask& task, const EventPump& pump = {});

// Signals the running worker's stop event and waits for its thread to end,
// calling `pump` between polls; returns at once when there is no worker.
// Always true.
bool StopWorker(const EventPump& pump = {});

// Whether a stop has been requested for the worker that the calling code
// runs on (see the file comment).
bool IsStopRequested();

// Whether a worker thread exists that has not ended yet.
bool IsWorkerRunning();

// Whether the calling thread is a worker thread (or runs a task's steps
// under a StopScope). Long work that starts more long work (saving that
// loads an MFT) then runs the inner task on the same thread.
bool IsWorkerThread();
// The stop event that IsStopRequested answers from on this thread (null
// when there is none).
std::shared_ptr<StopEvent> CurrentStopEvent();

// Signals the current worker's stop event without waiting (for example
// from a front end's cancel button or a terminal's interrupt).
void RequestStop();

// Makes IsStopRequested on the calling thread answer from `event` for the
// lifetime of the scope. Used to run a task's steps on the calling thread
// (tests, scripts) with a stop event of its own.
class StopScope {
 public:
  explicit StopScope(std::shared_ptr<StopEvent> event);
  ~StopScope();
  StopScope(const StopScope&) = delete;
  StopScope& operator=(const StopScope&) = delete;

 private:
  std::shared_ptr<StopEvent> previous_;
};

// Runs the step loop of `task` on the calling thread until it finishes or
// `stop` is signalled. Returns true when the task reported finished.
bool RunTaskHere(WorkerTask& task, const std::shared_ptr<StopEvent>& stop = std::make_shared<StopEvent>());

}  // namespace relictor
