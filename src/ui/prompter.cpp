#include "ui/prompter.h"

#include <QCoreApplication>
#include <QThread>

#include <atomic>

#include "ui/xmessagebox.h"
#include "worker/worker.h"

namespace relictor {

int QtPrompter::Ask(const std::string& text, const std::string& caption, std::uint32_t style) {
  const QString t = QString::fromUtf8(text.data(), qsizetype(text.size()));
  const QString c = QString::fromUtf8(caption.data(), qsizetype(caption.size()));
  QCoreApplication* app = QCoreApplication::instance();
  if (!app || QThread::currentThread() == app->thread()) return XMessageBox(owner_.data(), t, c, style);
  // After Cancel nothing more is asked: the answer that changes nothing on
  // disk (No, where the box has it) lets the job reach its next stop test.
  if (IsStopRequested()) {
    const MessageBoxLayout layout = DescribeMessageBoxStyle(style);
    return layout.escapeResult;
  }
  // The answer crosses threads through an atomic, so that its hand-over
  // does not rest on the event loop's own locking alone.
  std::atomic<int> result{DescribeMessageBoxStyle(style).escapeResult};
  QPointer<QWidget> owner = owner_;
  QMetaObject::invokeMethod(
      app, [&result, owner, t, c, style] { result.store(XMessageBox(owner.data(), t, c, style)); },
      Qt::BlockingQueuedConnection);
  return result.load();
}

}  // namespace relictor
