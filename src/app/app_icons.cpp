#include "app/app_icons.h"

#include <QPainter>
#include <QPixmap>
#include <QSvgRenderer>

// The drawings are compiled into the library; a static library needs its
// resources registered by hand.
static void InitIconResources() { Q_INIT_RESOURCE(icons); }

namespace {

const int kSizes[] = {16, 22, 24, 32, 48, 64};

QPixmap Render(const QString& path, int size) {
  QPixmap pixmap(size, size);
  pixmap.fill(Qt::transparent);
  QSvgRenderer renderer(path);
  if (!renderer.isValid()) return {};
  QPainter painter(&pixmap);
  renderer.render(&painter);
  return pixmap;
}

}  // namespace

QIcon OwnIcon(const char* own) {
  static bool registered = false;
  if (!registered) {
    InitIconResources();
    registered = true;
  }
  QIcon icon;
  QString path = QStringLiteral(":/icons/%1.svg").arg(QString::fromLatin1(own));
  for (int size : kSizes) {
    QPixmap p = Render(path, size);
    if (!p.isNull()) icon.addPixmap(p);
  }
  return icon;
}

QIcon AppIcon(const char* themeName, const char* own) {
  // A theme may name an icon whose files this Qt cannot draw; only an
  // icon that gives a picture counts.
  if (themeName != nullptr && QIcon::hasThemeIcon(QString::fromLatin1(themeName))) {
    QIcon themed = QIcon::fromTheme(QString::fromLatin1(themeName));
    if (!themed.pixmap(16, 16).isNull()) return themed;
  }
  return OwnIcon(own);
}

QIcon WithDeletedOverlay(const QIcon& base) {
  static const QIcon mark = OwnIcon("deleted");
  QIcon out;
  for (int size : {16, 22, 32, 48}) {
    QPixmap p = base.pixmap(size, size);
    if (p.isNull()) continue;
    QPainter painter(&p);
    painter.drawPixmap(0, 0, mark.pixmap(size, size));
    painter.end();
    out.addPixmap(p);
  }
  return out;
}
