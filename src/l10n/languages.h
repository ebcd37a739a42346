#pragma once
// The languages the programs ship in, and the catalogue of translated
// texts that each program loads at start-up. The choice is the "Language"
// setting of the window (an index into ShippedLanguages()); the window and
// the update manager read it when they start, so a new choice takes effect
// at the next start.

#include <QString>
#include <QStringList>
#include <vector>

class QCoreApplication;

namespace relictor::l10n {

struct Language {
  QString name;  // as the language names itself
  QString code;  // of its catalogues ("de"); empty for the source texts
};

// English first (the texts as written in the code), then every language
// that ships a catalogue.
const std::vector<Language>& ShippedLanguages();
QStringList ShippedLanguageNames();

// The stored choice, as an index into ShippedLanguages(); 0 when none or
// one that does not ship.
int StoredLanguage();

// Installs the translated texts of `catalogue` ("patchwell", "relictor")
// in `language` into the application, and Qt's own texts when the system
// holds them. Returns false when the language has no such catalogue (the
// texts then stay English).
bool InstallTranslations(QCoreApplication& app, const QString& catalogue, int language);

}  // namespace relictor::l10n
