#include "app/close_relay.h"

#include <QApplication>
#include <QGuiApplication>
#include <QMetaObject>

#ifdef RELICTOR_HAVE_XCB
#include <cstdlib>
#include <cstring>

#include <xcb/xcb.h>

namespace {

quint32 InternAtom(xcb_connection_t* connection, const char* name) {
  xcb_intern_atom_cookie_t cookie =
      xcb_intern_atom(connection, 1, static_cast<std::uint16_t>(std::strlen(name)), name);
  xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(connection, cookie, nullptr);
  if (reply == nullptr) return 0;
  quint32 atom = reply->atom;
  std::free(reply);
  return atom;
}

}  // namespace

CloseRelay::CloseRelay(QWidget* window) : window_(window) {
  if (!QGuiApplication::platformName().startsWith(QLatin1String("xcb"))) return;
  auto* x11 = qApp ? qApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
  xcb_connection_t* connection = x11 ? x11->connection() : nullptr;
  if (connection == nullptr) return;
  protocolsAtom_ = InternAtom(connection, "WM_PROTOCOLS");
  deleteAtom_ = InternAtom(connection, "WM_DELETE_WINDOW");
  if (protocolsAtom_ == 0 || deleteAtom_ == 0) return;
  qApp->installNativeEventFilter(this);
  installed_ = true;
}

CloseRelay::~CloseRelay() {
  if (installed_ && qApp) qApp->removeNativeEventFilter(this);
}

bool CloseRelay::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) {
  if (eventType != "xcb_generic_event_t" || !window_ || message == nullptr) return false;
  auto* event = static_cast<xcb_generic_event_t*>(message);
  if ((event->response_type & 0x7f) != XCB_CLIENT_MESSAGE) return false;
  auto* client = reinterpret_cast<xcb_client_message_event_t*>(event);
  if (client->format != 32 || client->type != protocolsAtom_ || client->data.data32[0] != deleteAtom_) return false;
  if (client->window != static_cast<xcb_window_t>(window_->winId())) return false;
  // Only a blocked window needs the relay; otherwise Qt delivers it.
  QWidget* modal = QApplication::activeModalWidget();
  if (modal == nullptr || modal == window_) return false;
  QMetaObject::invokeMethod(window_, [window = window_] {
    if (window) window->close();
  }, Qt::QueuedConnection);
  return true;
}

#else

CloseRelay::CloseRelay(QWidget* window) : window_(window) {}
CloseRelay::~CloseRelay() = default;
bool CloseRelay::nativeEventFilter(const QByteArray&, void*, qintptr*) { return false; }

#endif
