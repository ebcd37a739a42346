#include "ui/hand_over.h"

#include <QCoreApplication>
#include <QThread>

namespace relictor {

HandOver::HandOver() {
  if (QCoreApplication* app = QCoreApplication::instance()) moveToThread(app->thread());
}

bool HandOver::Run(const std::function<void()>& work) {
  QCoreApplication* app = QCoreApplication::instance();
  if (!app) return false;
  if (QThread::currentThread() == app->thread()) {
    work();
    return true;
  }
  std::lock_guard call(callMutex_);
  {
    std::lock_guard lock(mutex_);
    work_ = work;
    done_ = false;
  }
  QMetaObject::invokeMethod(this, "Serve", Qt::BlockingQueuedConnection);
  std::lock_guard lock(mutex_);
  work_ = nullptr;
  return done_;
}

void HandOver::Serve() {
  std::function<void()> work;
  {
    std::lock_guard lock(mutex_);
    work = work_;
  }
  if (work) work();
  std::lock_guard lock(mutex_);
  done_ = true;
}

}  // namespace relictor
