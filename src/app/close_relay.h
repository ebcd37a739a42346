#pragma once
// The window manager's close box while a modal dialog is up. Qt drops a
// close request from the window system for a window that a modal dialog
// blocks, so closing the main window while long work shows its progress
// would do nothing. On X11 the relay catches that request and closes the
// window as the program itself would, which reaches the window's
// closeEvent (where the window asks whether to stop the work).

#include <QAbstractNativeEventFilter>
#include <QPointer>
#include <QWidget>

class CloseRelay final : public QAbstractNativeEventFilter {
 public:
  // Relays the close requests of `window`; installs itself into the
  // application, and takes itself out when destroyed. Does nothing on
  // other window systems.
  explicit CloseRelay(QWidget* window);
  ~CloseRelay() override;
  CloseRelay(const CloseRelay&) = delete;
  CloseRelay& operator=(const CloseRelay&) = delete;

  bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

 private:
  QPointer<QWidget> window_;
  quint32 protocolsAtom_ = 0;
  quint32 deleteAtom_ = 0;
  bool installed_ = false;
};
