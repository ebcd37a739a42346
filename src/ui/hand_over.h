#pragma once
// Every call from the worker thread to the window goes through HandOver.
//
// The threading rule of the window:
// - Widgets, the entry tree a list shows and the readers behind it belong
//   to the interface thread. The worker (see worker/worker.h) reaches them
//   only by handing work to the interface thread here and waiting until it
//   has run; its progress goes to the progress dialog by queued calls that
//   copy their arguments.
// - While the background search runs, the tree and reader of the volume it
//   walks belong to the worker; the interface thread touches them only
//   inside a SearchPause (app/search_gate.h), which holds the search at a
//   safe point. A worker the window waits for never waits for the window
//   without letting a pause be taken (search_gate::WaitingForWindow).
// - The interface thread never blocks on the worker without dispatching
//   its events, since the worker may be waiting for one of them here.
//
// How the hand-over is ordered: Qt's blocking queued call orders the two
// threads with a semaphore inside the Qt library, which the thread checker
// does not see when the library was not built for it, so work handed over
// in the captures of such a call would look unordered to it. Here the work
// and the news that it has run pass under a mutex of our own and the call
// names a slot, so that every byte the two threads share is ordered where
// the checker can see it.

#include <QObject>

#include <functional>
#include <mutex>

namespace relictor {

class HandOver final : public QObject {
  Q_OBJECT

 public:
  // Made on any thread; the object lives on the application's thread.
  HandOver();

  // Runs `work` on the interface thread and returns when it has run: at
  // once when called there. Whatever `work` captures by reference is the
  // calling thread's until the call returns. Without an application
  // nothing runs and false is returned.
  bool Run(const std::function<void()>& work);

 private:
  Q_INVOKABLE void Serve();

  std::mutex callMutex_;  // one hand-over at a time
  std::mutex mutex_;      // guards the two below
  std::function<void()> work_;
  bool done_ = false;
};

}  // namespace relictor
