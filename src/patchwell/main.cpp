// patchwell: updates the Relictor installed in the folder it is started in.

#include <QApplication>
#include <QDir>

#include "l10n/languages.h"
#include "patchwell/patchwell_dialog.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Kalvor Patchwell"));
  QApplication::setOrganizationName(QStringLiteral("Kalvor"));
  // The language chosen in the window's options.
  relictor::l10n::InstallTranslations(app, QStringLiteral("patchwell"), relictor::l10n::StoredLanguage());

  relictor::patchwell::PatchwellOptions options;
  options.client.server = relictor::update::ConfiguredUpdateServer();
  options.client.trustedKeyPath = relictor::update::InstalledTrustedKeyPath();
  options.client.workingFolder = QDir::currentPath();

  relictor::patchwell::CPatchwellDlg dialog(options, relictor::patchwell::IsAutomaticMode(app.arguments().mid(1)));
  dialog.Initialise();
  dialog.exec();
  return 0;
}
