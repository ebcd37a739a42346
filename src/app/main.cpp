// relictor: the window. Every argument names an image or a device to open
// (`relictor card.img /dev/sdb`); without one the window shows the
// system's readable FAT and NTFS volumes.

#include <QApplication>

#include "app/panes.h"
#include "app/relictor_app.h"
#include "l10n/languages.h"

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  // The language chosen in the options, from this start on.
  relictor::l10n::InstallTranslations(application, QStringLiteral("relictor"), relictor::l10n::StoredLanguage());
  CRelictorApp app;
  InstallPaneHooks(DefaultFrameHooks());
  QStringList sources = QApplication::arguments().mid(1);
  if (!app.InitInstance(sources)) return 1;
  return QApplication::exec();
}
