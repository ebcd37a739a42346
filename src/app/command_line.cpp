#include "app/command_line.h"

#include <QCoreApplication>

WindowCommandLine ParseWindowCommandLine(const QStringList& arguments) {
  WindowCommandLine result;
  QString unknown;
  bool options = true;
  for (const QString& word : arguments) {
    if (options && word == QLatin1String("--")) {
      options = false;
    } else if (options && (word == QLatin1String("--help") || word == QLatin1String("-h"))) {
      // Help and version win over anything else on the line, even an
      // option the toolkit would have taken out later.
      result.action = WindowCommandLine::Action::Help;
      result.sources.clear();
      return result;
    } else if (options && (word == QLatin1String("--version") || word == QLatin1String("-V"))) {
      result.action = WindowCommandLine::Action::Version;
      result.sources.clear();
      return result;
    } else if (options && word.startsWith(QLatin1Char('-')) && word.size() > 1) {
      if (unknown.isEmpty()) unknown = word;
    } else {
      result.sources << word;
    }
  }
  if (!unknown.isEmpty()) {
    result.action = WindowCommandLine::Action::Error;
    result.error = QCoreApplication::translate("WindowCommandLine", "unknown option %1 (see relictor --help)").arg(unknown);
    result.sources.clear();
  }
  return result;
}

QString WindowUsage() {
  return QCoreApplication::translate("WindowCommandLine",
      "usage: relictor [OPTION] [--] [SOURCE...]\n\n"
      "Finds and recovers deleted files on FAT12, FAT16, FAT32, exFAT and NTFS volumes in a window.\n"
      "A SOURCE is a disk image, volume image or block device; it is only ever read.\n"
      "Without one the window shows this computer's FAT, exFAT and NTFS volumes that you may read.\n\n"
      "options:\n"
      "  -h, --help       show this text and end\n"
      "  -V, --version    show the program's version and end\n"
      "  --               what follows is a SOURCE, even when it begins with '-'\n\n"
      "relictor-cli does the same work without a window.\n");
}
