#include "ui/xmessagebox.h"

#include <QApplication>
#include <QPushButton>

#include "worker/frontend.h"

namespace relictor {
namespace {

// Button identifiers of the standard box beyond those the core names.
constexpr int kIdCancel = 2;
constexpr int kIdAbort = 3;
constexpr int kIdRetry = 4;
constexpr int kIdIgnore = 5;
constexpr int kIdTryAgain = 10;
constexpr int kIdContinue = 11;

constexpr std::uint32_t kButtonSetMask = 0x0000000F;
constexpr std::uint32_t kIconMask = 0x000000F0;
constexpr std::uint32_t kStopIconBit = 0x00000010;
constexpr std::uint32_t kSystemModal = 0x00001000;

MessageBeepFunction& Beeper() {
  static MessageBeepFunction beep = [](std::uint32_t) { QApplication::beep(); };
  return beep;
}

QMessageBox::StandardButton StandardButtonOf(int result) {
  switch (result) {
    case msgbox::kIdOk:
      return QMessageBox::Ok;
    case kIdCancel:
      return QMessageBox::Cancel;
    case kIdAbort:
      return QMessageBox::Abort;
    case kIdRetry:
    case kIdTryAgain:
      return QMessageBox::Retry;
    case kIdIgnore:
    case kIdContinue:
      return QMessageBox::Ignore;
    case msgbox::kIdYes:
      return QMessageBox::Yes;
    case msgbox::kIdNo:
      return QMessageBox::No;
    default:
      return QMessageBox::NoButton;
  }
}

QWidget* DefaultOwner() {
  if (QWidget* modal = QApplication::activeModalWidget()) return modal;
  if (QWidget* popup = QApplication::activePopupWidget()) return popup;
  return QApplication::activeWindow();
}

}  // namespace

void SetMessageBeep(MessageBeepFunction beep) {
  Beeper() = beep ? std::move(beep) : [](std::uint32_t) { QApplication::beep(); };
}

MessageBoxLayout DescribeMessageBoxStyle(std::uint32_t style) {
  MessageBoxLayout out;
  using B = MessageBoxLayout::Button;
  switch (style & kButtonSetMask) {
    case 1:
      out.buttons = {B{QCoreApplication::translate("XMessageBox", "OK"), msgbox::kIdOk}, B{QCoreApplication::translate("XMessageBox", "Cancel"), kIdCancel}};
      break;
    case 2:
      out.buttons = {B{QCoreApplication::translate("XMessageBox", "&Abort"), kIdAbort}, B{QCoreApplication::translate("XMessageBox", "&Retry"), kIdRetry},
                     B{QCoreApplication::translate("XMessageBox", "&Ignore"), kIdIgnore}};
      break;
    case 3:
      out.buttons = {B{QCoreApplication::translate("XMessageBox", "&Yes"), msgbox::kIdYes}, B{QCoreApplication::translate("XMessageBox", "&No"), msgbox::kIdNo},
                     B{QCoreApplication::translate("XMessageBox", "Cancel"), kIdCancel}};
      break;
    case 4:
      out.buttons = {B{QCoreApplication::translate("XMessageBox", "&Yes"), msgbox::kIdYes}, B{QCoreApplication::translate("XMessageBox", "&No"), msgbox::kIdNo}};
      break;
    case 5:
      out.buttons = {B{QCoreApplication::translate("XMessageBox", "&Retry"), kIdRetry}, B{QCoreApplication::translate("XMessageBox", "Cancel"), kIdCancel}};
      break;
    case 6:
      out.buttons = {B{QCoreApplication::translate("XMessageBox", "Cancel"), kIdCancel}, B{QCoreApplication::translate("XMessageBox", "&Try Again"), kIdTryAgain},
                     B{QCoreApplication::translate("XMessageBox", "&Continue"), kIdContinue}};
      break;
    default:
      out.buttons = {B{QCoreApplication::translate("XMessageBox", "OK"), msgbox::kIdOk}};
      break;
  }
  out.standardBox = (style & kStopIconBit) && (style & kSystemModal);
  if (!out.standardBox) {
    // The extra buttons go right after the button they extend.
    for (std::size_t i = 0; i < out.buttons.size(); ++i) {
      if (out.buttons[i].result == msgbox::kIdYes && (style & msgbox::kYesToAll)) {
        out.buttons.insert(out.buttons.begin() + std::ptrdiff_t(i) + 1, B{QCoreApplication::translate("XMessageBox", "Y&es to All"), msgbox::kIdYesToAll});
        ++i;
      } else if (out.buttons[i].result == msgbox::kIdNo && (style & msgbox::kNoToAll)) {
        out.buttons.insert(out.buttons.begin() + std::ptrdiff_t(i) + 1, B{QCoreApplication::translate("XMessageBox", "N&o to All"), msgbox::kIdNoToAll});
        ++i;
      }
    }
  }
  switch (style & kIconMask) {
    case 0x10:
      out.icon = QMessageBox::Critical;
      break;
    case 0x20:
      out.icon = QMessageBox::Question;
      break;
    case 0x30:
      out.icon = QMessageBox::Warning;
      break;
    case 0x40:
      out.icon = QMessageBox::Information;
      break;
    default:
      break;
  }
  out.beep = !(style & msgbox::kNoBeep);
  // Without a Cancel button, Escape and the close box answer as the most
  // cautious button does: No where there is one (nothing is replaced),
  // else the first button.
  out.escapeResult = out.buttons.front().result;
  for (const B& b : out.buttons)
    if (b.result == kIdCancel) out.escapeResult = kIdCancel;
  if (out.escapeResult != kIdCancel) {
    for (const B& b : out.buttons)
      if (b.result == msgbox::kIdNo) out.escapeResult = msgbox::kIdNo;
  }
  return out;
}

int XMessageBox(QWidget* owner, const QString& text, const QString& caption, std::uint32_t style) {
  if (!owner) owner = DefaultOwner();
  const QString title = caption.isEmpty() ? QCoreApplication::translate("XMessageBox", "Error") : caption;
  const MessageBoxLayout layout = DescribeMessageBoxStyle(style);
  if (layout.beep) Beeper()(style & kIconMask);

  QMessageBox box(owner);
  box.setWindowTitle(title);
  box.setText(text);
  box.setIcon(layout.icon);
  box.setWindowModality(owner ? Qt::WindowModal : Qt::ApplicationModal);
  if (layout.standardBox) {
    // The desktop's own box with its standard buttons.
    box.setObjectName(QStringLiteral("StandardMessageBox"));
    box.setWindowModality(Qt::ApplicationModal);
    QMessageBox::StandardButtons buttons;
    for (const auto& b : layout.buttons) buttons |= StandardButtonOf(b.result);
    box.setStandardButtons(buttons);
    box.setDefaultButton(StandardButtonOf(layout.buttons.front().result));
    box.setEscapeButton(StandardButtonOf(layout.escapeResult));
    const int pressed = box.exec();
    for (const auto& b : layout.buttons)
      if (StandardButtonOf(b.result) == pressed) return b.result;
    return layout.escapeResult;
  }
  box.setObjectName(QStringLiteral("XMessageBox"));
  std::vector<std::pair<QAbstractButton*, int>> made;
  for (const auto& b : layout.buttons) {
    // One role for every button keeps them in the order of the style.
    QPushButton* button = box.addButton(b.text, QMessageBox::ActionRole);
    made.emplace_back(button, b.result);
    if (b.result == layout.escapeResult) box.setEscapeButton(button);
  }
  box.setDefaultButton(static_cast<QPushButton*>(made.front().first));
  box.exec();
  QAbstractButton* clicked = box.clickedButton();
  for (const auto& [button, result] : made)
    if (button == clicked) return result;
  return layout.escapeResult;
}

}  // namespace relictor
