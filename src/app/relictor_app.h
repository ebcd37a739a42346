#pragma once
// The application object of the window: the user's settings, the host the
// readers are given, the start of the update manager, and the help pages.
// The windows themselves belong to the main frame, which hands each part
// what it needs when it makes it.

#include <QObject>
#include <QString>
#include <QStringList>

#include "volume/host.h"

class QWidget;

class CRelictorApp : public QObject {
  Q_OBJECT

 public:
  // The one application object; the constructor registers it.
  CRelictorApp();
  ~CRelictorApp() override;
  static CRelictorApp* Instance();

  // The start-up sequence after the Qt application exists: settings, the
  // update check, the frame with its panes opened on `sources` (images and
  // devices named on the command line), shown. False ends the program.
  bool InitInstance(const QStringList& sources);

  void LoadSettings();
  void SaveSettings();
  // Starts the update manager beside this program, with "q" when quiet.
  // A missing program is silent. Returns whether the process started.
  bool LaunchPatchwell(bool quiet);
  // The folder the update manager is looked for in (the program's own
  // folder); tests point it elsewhere.
  void SetPatchwellFolder(const QString& folder) { patchwellFolder_ = folder; }
  QString PatchwellPath() const;

  // The start-up update check: true when the update server offers a
  // verified release newer than the `relictor` in the update manager's
  // folder. Silent on every failure; no network access with AutoUpdate off.
  bool CheckForUpdateAtStartup();

  // Opens a help page ("index.html" when empty) in the desktop's browser.
  // False when the help pages cannot be found or no browser starts.
  bool WinHelp(const QString& page = QString());
  // WinHelp, and when it fails one message over `parent` that says why
  // and where the pages are.
  bool ShowHelp(QWidget* parent, const QString& page = QString());

  // The host that every reader of the document is given: the settings, the
  // window's job runner and its cluster range dialog.
  relictor::Host& GetHost() { return host_; }

  char replaceChar = '_';
  int autoUpdate = 0;
  quint16 language = 0;
  // Recovered files keep their entries' modification and access times.
  bool keepTimes = true;

 private:
  relictor::Host host_;
  QString patchwellFolder_;
};
