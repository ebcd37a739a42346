#include "ui/prompter.h"

#include <QCoreApplication>
#include <QThread>

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
  int result = DescribeMessageBoxStyle(style).escapeResult;
  QPointer<QWidget> owner = owner_;
  call_->Run([&] { result = XMessageBox(owner.data(), t, c, style); });
  return result;
}

}  // namespace relictor
