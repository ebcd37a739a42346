// relictor: the window. Every argument names an image or a device to open
// (`relictor card.img /dev/sdb`); without one the window shows the
// system's readable FAT, exFAT and NTFS volumes.

#include <QApplication>

#include <cstdio>

#include "app/command_line.h"
#include "app/panes.h"
#include "app/relictor_app.h"
#include "l10n/languages.h"

#ifndef RELICTOR_PRODUCT_VERSION
#define RELICTOR_PRODUCT_VERSION RELICTOR_VERSION
#endif

namespace {

// Help and version are answered before the toolkit starts, so that they
// work on a terminal without a display.
int AnswerOnTerminal(const WindowCommandLine& line) {
  if (line.action == WindowCommandLine::Action::Help) {
    std::fputs(WindowUsage().toLocal8Bit().constData(), stdout);
    return 0;
  }
  if (line.action == WindowCommandLine::Action::Version) {
    std::printf("relictor %s\n", RELICTOR_PRODUCT_VERSION);
    return 0;
  }
  std::fprintf(stderr, "relictor: %s\n", line.error.toLocal8Bit().constData());
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  QStringList words;
  for (int i = 1; i < argc; ++i) words << QString::fromLocal8Bit(argv[i]);
  WindowCommandLine early = ParseWindowCommandLine(words);
  if (early.action == WindowCommandLine::Action::Help || early.action == WindowCommandLine::Action::Version)
    return AnswerOnTerminal(early);

  QApplication application(argc, argv);
  // The toolkit has taken out its own options (-platform, -style, ...);
  // what is left are ours and the sources.
  WindowCommandLine line = ParseWindowCommandLine(QApplication::arguments().mid(1));
  if (line.action != WindowCommandLine::Action::Run) return AnswerOnTerminal(line);
  // The language chosen in the options, from this start on.
  relictor::l10n::InstallTranslations(application, QStringLiteral("relictor"), relictor::l10n::StoredLanguage());
  CRelictorApp app;
  InstallPaneHooks(DefaultFrameHooks());
  if (!app.InitInstance(line.sources)) return 1;
  return QApplication::exec();
}
