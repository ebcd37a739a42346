#pragma once
// The program's own message box, which can offer the buttons the
// desktop's standard box lacks ("Y&es to All", "N&o to All"). It takes the
// style bits and returns the button identifiers that the core uses
// (relictor::msgbox in worker/frontend.h); how those bits become buttons,
// an icon and a sound is decided in one place, DescribeMessageBoxStyle.

#include <QMessageBox>
#include <QString>

#include <cstdint>
#include <functional>
#include <vector>

namespace relictor {

// What a style asks for.
struct MessageBoxLayout {
  struct Button {
    QString text;
    int result;
  };
  std::vector<Button> buttons;  // left to right
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  bool beep = true;
  // The desktop's standard box is shown instead (a stop or exclamation
  // icon with the system-modal bit).
  bool standardBox = false;
  int escapeResult = 0;  // what Escape and the close box return
};

MessageBoxLayout DescribeMessageBoxStyle(std::uint32_t style);

// Shows the box modally over `owner` (none: the active modal dialog or the
// active window) and returns the identifier of the pressed button. An
// empty caption shows "Error".
int XMessageBox(QWidget* owner, const QString& text, const QString& caption, std::uint32_t style);

// The sound of a box: called with the icon bits of the style (0xF0) unless
// the style silences it. Tests replace it to count the beeps.
using MessageBeepFunction = std::function<void(std::uint32_t iconBits)>;
void SetMessageBeep(MessageBeepFunction beep);

}  // namespace relictor
