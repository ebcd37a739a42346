#pragma once
// Questions of the core (the overwrite question of a saving run) asked in
// the window. The core asks on the worker thread; the box is shown on the
// interface thread through a blocking-queued call, owned by the dialog
// that is active there (the progress dialog of the job).

#include <QPointer>
#include <QWidget>

#include <memory>

#include "ui/hand_over.h"
#include "worker/frontend.h"

namespace relictor {

class QtPrompter final : public Prompter {
 public:
  // `owner` owns the boxes; none: the active modal dialog or window at the
  // time of asking.
  explicit QtPrompter(QWidget* owner = nullptr) : owner_(owner), call_(std::make_unique<HandOver>()) {}
  int Ask(const std::string& text, const std::string& caption, std::uint32_t style) override;

 private:
  QPointer<QWidget> owner_;
  std::unique_ptr<HandOver> call_;
};

}  // namespace relictor
