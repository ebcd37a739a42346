#include "app/relictor_app.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QMessageBox>
#include <QProcess>
#include <QSettings>
#include <QUrl>

#include "app/app_paths.h"
#include "app/main_frame.h"
#include "update/release_signature.h"
#include "update/update_client.h"

namespace {

CRelictorApp* theApp = nullptr;

const char* const kOrganisation = "Kalvor";
const char* const kApplication = "Kalvor Relictor";

// Every setting lives in the "Settings" group of the per-user store.
class SettingsGroup {
 public:
  SettingsGroup() : settings_(QString::fromLatin1(kOrganisation), QString::fromLatin1(kApplication)) {
    settings_.beginGroup(QStringLiteral("Settings"));
  }
  QSettings& operator*() { return settings_; }
  QSettings* operator->() { return &settings_; }

 private:
  QSettings settings_;
};

}  // namespace

CRelictorApp::CRelictorApp() {
  theApp = this;
  patchwellFolder_ = QCoreApplication::applicationDirPath();
}

CRelictorApp::~CRelictorApp() {
  if (theApp == this) theApp = nullptr;
}

CRelictorApp* CRelictorApp::Instance() { return theApp; }

void CRelictorApp::LoadSettings() {
  SettingsGroup s;
  autoUpdate = s->value(QStringLiteral("AutoUpdate"), 0).toInt();
  // The first character stands in for the lost letter of a deleted name;
  // an empty or absent value means '_'. Only a printable ASCII character
  // can stand in a name, so anything else falls back to '_' as well.
  QByteArray text = s->value(QStringLiteral("ReplaceChar"), QString()).toString().toLatin1();
  replaceChar = '_';
  if (!text.isEmpty() && text[0] > ' ' && text[0] < 0x7F) replaceChar = text[0];
  language = static_cast<quint16>(s->value(QStringLiteral("Language"), 0).toUInt() & 0xFFFFu);
  // Beyond the classic settings: recovered files keep their entries' times
  // unless the user turned it off.
  keepTimes = s->value(QStringLiteral("KeepTimes"), true).toBool();
  host_.settings.replaceChar = replaceChar;
  host_.settings.autoUpdate = autoUpdate != 0;
  host_.settings.language = language;
  host_.settings.keepTimes = keepTimes;
}

void CRelictorApp::SaveSettings() {
  SettingsGroup s;
  s->setValue(QStringLiteral("AutoUpdate"), autoUpdate);
  s->setValue(QStringLiteral("ReplaceChar"), QString(QLatin1Char(replaceChar)));
  s->setValue(QStringLiteral("KeepTimes"), keepTimes);
  // The language is read at the next start (by the update manager too).
  s->setValue(QStringLiteral("Language"), language);
  s->sync();
  host_.settings.replaceChar = replaceChar;
  host_.settings.autoUpdate = autoUpdate != 0;
  host_.settings.keepTimes = keepTimes;
}

QString CRelictorApp::PatchwellPath() const { return QDir(patchwellFolder_).absoluteFilePath(QStringLiteral("patchwell")); }

bool CRelictorApp::LaunchPatchwell(bool quiet) {
  QString program = PatchwellPath();
  QFileInfo info(program);
  if (!info.isFile() || !info.isExecutable()) return false;
  QStringList arguments;
  if (quiet) arguments << QStringLiteral("q");
  return QProcess::startDetached(program, arguments, patchwellFolder_);
}

bool CRelictorApp::CheckForUpdateAtStartup() {
  // The installation that the update manager would update is the one
  // checked: the `relictor` and the trusted key in the update manager's
  // folder (this program's own). Every failure is silent, the wait is
  // bounded by a few seconds, and with "AutoUpdate" off nothing is sent.
  relictor::update::StartupCheckOptions options;
  options.autoUpdate = autoUpdate != 0;
  if (!options.autoUpdate) return false;
  options.server = relictor::update::ConfiguredUpdateServer();
  options.trustedKeyPath = QDir(patchwellFolder_).absoluteFilePath(QString::fromLatin1(relictor::update::kTrustedKeyFileName));
  return relictor::update::NewerReleaseAtStartup(options, patchwellFolder_);
}

namespace {

QString HelpPath(const QString& page) {
  return QStringLiteral("help/") + (page.isEmpty() ? QStringLiteral("index.html") : page);
}

}  // namespace

bool CRelictorApp::WinHelp(const QString& page) {
  QString file = FindDataFile(HelpPath(page));
  if (file.isEmpty()) return false;
  return QDesktopServices::openUrl(QUrl::fromLocalFile(file));
}

bool CRelictorApp::ShowHelp(QWidget* parent, const QString& page) {
  const QString file = FindDataFile(HelpPath(page));
  QString problem;
  if (file.isEmpty()) {
    problem = tr("The help page %1 is not installed.").arg(HelpPath(page));
  } else if (!QDesktopServices::openUrl(QUrl::fromLocalFile(file))) {
    problem = tr("No web browser could be started to show the help. Open %1 in a browser to read it.")
                  .arg(file);
  } else {
    return true;
  }
  QMessageBox box(QMessageBox::Information, QString::fromLatin1(kApplication), problem, QMessageBox::Ok, parent);
  box.setObjectName(QStringLiteral("HelpProblem"));
  box.setTextInteractionFlags(Qt::TextSelectableByMouse);
  box.exec();
  return false;
}

bool CRelictorApp::InitInstance(const QStringList& sources) {
  QCoreApplication::setOrganizationName(QString::fromLatin1(kOrganisation));
  QCoreApplication::setApplicationName(QString::fromLatin1(kApplication));
  LoadSettings();
  bool newerRelease = autoUpdate != 0 && CheckForUpdateAtStartup();
  auto* frame = new CMainFrame(sources);
  if (!frame->IsCreated()) {
    delete frame;
    return false;
  }
  frame->setAttribute(Qt::WA_DeleteOnClose);
  frame->show();
  frame->ReportOpenProblems();
  if (newerRelease) LaunchPatchwell(true);
  return true;
}
