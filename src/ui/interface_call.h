#pragma once
// Runs a piece of work on the interface thread for a worker and waits for
// it: the way the core's questions reach the window.
//
// Qt's blocking queued call orders the two threads with a semaphore inside
// the Qt library, which the thread checker does not see when the library
// was not built for it. Work handed over in the captures of such a call
// therefore looks unordered to it. Here the work and the news that it has
// run pass under a mutex of our own, and the call names a slot, so that
// every byte the two threads share is ordered where the checker can see
// it.

#include <QObject>

#include <functional>
#include <mutex>

namespace relictor {

class InterfaceCall final : public QObject {
  Q_OBJECT

 public:
  // Made on any thread; the object lives on the application's thread.
  InterfaceCall();

  // Runs `work` on the interface thread and returns when it has run: at
  // once when called there. Without an application nothing runs and false
  // is returned.
  bool Run(const std::function<void()>& work);

 private:
  Q_INVOKABLE void Serve();

  std::mutex callMutex_;  // one hand-over at a time
  std::mutex mutex_;      // guards the two below
  std::function<void()> work_;
  bool done_ = false;
};

}  // namespace relictor
