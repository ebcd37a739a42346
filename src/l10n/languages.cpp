#include "l10n/languages.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QSettings>
#include <QTranslator>

namespace relictor::l10n {

const std::vector<Language>& ShippedLanguages() {
  static const std::vector<Language> languages = {
      {QStringLiteral("English"), QString()},
      {QStringLiteral("Deutsch"), QStringLiteral("de")},
  };
  return languages;
}

QStringList ShippedLanguageNames() {
  QStringList names;
  for (const Language& l : ShippedLanguages()) names << l.name;
  return names;
}

int StoredLanguage() {
  QSettings settings(QStringLiteral("Kalvor"), QStringLiteral("Kalvor Relictor"));
  settings.beginGroup(QStringLiteral("Settings"));
  bool ok = false;
  const uint stored = settings.value(QStringLiteral("Language"), 0).toUInt(&ok) & 0xFFFFu;
  return ok && stored < ShippedLanguages().size() ? static_cast<int>(stored) : 0;
}

bool InstallTranslations(QCoreApplication& app, const QString& catalogue, int language) {
  if (language <= 0 || static_cast<std::size_t>(language) >= ShippedLanguages().size()) return false;
  const QString code = ShippedLanguages()[static_cast<std::size_t>(language)].code;
  // Qt's own texts (standard buttons) come from the system's catalogues,
  // where the system has them.
  auto* qt = new QTranslator(&app);
  if (qt->load(QStringLiteral("qtbase_") + code, QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
    QCoreApplication::installTranslator(qt);
  } else {
    delete qt;
  }
  auto* own = new QTranslator(&app);
  if (!own->load(QStringLiteral(":/i18n/") + catalogue + QLatin1Char('_') + code)) {
    delete own;
    return false;
  }
  QCoreApplication::installTranslator(own);
  return true;
}

}  // namespace relictor::l10n
