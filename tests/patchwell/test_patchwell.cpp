// The update manager, driven through its dialog as a user would, against a
// real HTTP server on 127.0.0.1; and the program itself with "q".

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QJsonObject>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QRandomGenerator>
#include <QSettings>
#include <QSignalSpy>
#include <QTimer>
#include <QTranslator>
#include <QtTest>

#include <memory>

#include "l10n/languages.h"
#include "patchwell/patchwell_dialog.h"
#include "patchwell/running_relictor.h"
#include "update/product_version.h"
#include "update_test_support.h"

using namespace relictor::patchwell;
using namespace relictor::update;
using namespace relictor::update::testing;
using namespace std::chrono_literals;

namespace {

QJsonObject Rule(const char* key, const QJsonValue& value) { return QJsonObject{{QString::fromLatin1(key), value}}; }

QByteArray RandomBytes(qsizetype size, quint32 seed) {
  QByteArray data(size, '\0');
  QRandomGenerator random(seed);
  for (char& c : data) c = static_cast<char>(random.bounded(256));
  return data;
}

// Answers the next message box that opens with `button`, and keeps its
// title and text. A message box that never opens leaves `seen` false.
class MessageBoxAnswer : public QObject {
 public:
  explicit MessageBoxAnswer(QMessageBox::StandardButton button) : button_(button) {
    timer_.setInterval(20);
    connect(&timer_, &QTimer::timeout, this, [this]() {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      if (!box || !box->isVisible()) return;
      seen = true;
      title = box->windowTitle();
      text = box->text();
      timer_.stop();
      QAbstractButton* b = box->button(button_);
      if (b) QTest::mouseClick(b, Qt::LeftButton);
      else box->close();
    });
    timer_.start();
  }
  bool seen = false;
  QString title, text;

 private:
  QMessageBox::StandardButton button_;
  QTimer timer_;
};

}  // namespace

class PatchwellTest : public QObject {
  Q_OBJECT

  TestServer server_;
  SigningKey key_;
  QByteArray next_;  // the relictor of release 1.200

  std::unique_ptr<CPatchwellDlg> Dialog(const Installation& install, bool automatic = false) {
    PatchwellOptions o;
    o.client.server = server_.Url();
    o.client.trustedKeyPath = install.KeyPath();
    o.client.workingFolder = install.Folder();
    o.client.transferTimeout = 1500ms;
    o.client.descriptionTimeout = 3s;
    o.closeWait = 3s;
    auto dialog = std::make_unique<CPatchwellDlg>(o, automatic);
    dialog->Initialise();
    dialog->show();
    return dialog;
  }
  static QPushButton* Action(CPatchwellDlg& d) { return d.findChild<QPushButton*>(QStringLiteral("actionButton")); }
  static QString Status(CPatchwellDlg& d) { return d.findChild<QLabel*>(QStringLiteral("statusText"))->text(); }
  static QStringList Products(CPatchwellDlg& d) {
    QStringList lines;
    auto* list = d.findChild<QListWidget*>(QStringLiteral("productList"));
    for (int i = 0; i < list->count(); ++i) lines << list->item(i)->text();
    return lines;
  }
  static QProgressBar* Bar(CPatchwellDlg& d) { return d.findChild<QProgressBar*>(QStringLiteral("progressBar")); }
  static void Click(QPushButton* b) { QTest::mouseClick(b, Qt::LeftButton); }
  static void RemoveTranslations() {
    for (QTranslator* t : qApp->findChildren<QTranslator*>()) {
      QCoreApplication::removeTranslator(t);
      delete t;
    }
  }

  // Release 1.200: a new relictor and a file the installation lacks.
  QList<ServedFile> Release() const {
    return {{QStringLiteral("/update/1.200/relictor"), next_},
            {QStringLiteral("/update/1.200/samples.bin"), RandomBytes(300000, 3)}};
  }

 private slots:
  void initTestCase() {
    QVERIFY(server_.Start());
    next_ = ReadFile(FakeRelictorNextPath());
    QVERIFY(!next_.isEmpty());
  }

  void init() {
    server_.ClearRules();
    server_.ClearRequests();
  }

  void theDialogAtFirst() {
    Installation install(key_);
    auto d = Dialog(install);
    QCOMPARE(d->windowTitle(), QStringLiteral("Kalvor Patchwell"));
    QCOMPARE(Status(*d), QStringLiteral("Click 'Next' for availability updates"));
    QCOMPARE(Action(*d)->text(), QStringLiteral("Next"));
    QVERIFY(Action(*d)->isEnabled());
    QCOMPARE(Products(*d), QStringList({"Relictor 1.100"}));
    QVERIFY(server_.Requests().isEmpty());

    Installation empty(key_, false);
    auto none = Dialog(empty);
    QVERIFY(!Action(*none)->isEnabled());
    QVERIFY(Products(*none).isEmpty());
  }

  void everyShippedLanguageHasACatalogue() {
    const auto& languages = relictor::l10n::ShippedLanguages();
    QCOMPARE(languages.front().code, QString());  // English: the texts as written
    for (std::size_t i = 1; i < languages.size(); ++i) {
      QVERIFY2(relictor::l10n::InstallTranslations(*qApp, QStringLiteral("patchwell"), static_cast<int>(i)),
               qPrintable(languages[i].name));
      RemoveTranslations();
    }
    QVERIFY(!relictor::l10n::InstallTranslations(*qApp, QStringLiteral("patchwell"), 0));
    QVERIFY(!relictor::l10n::InstallTranslations(*qApp, QStringLiteral("patchwell"), int(languages.size())));
  }

  // The language chosen in the window's options is read at start; one that
  // does not ship leaves the texts English.
  void theStoredLanguage() {
    QSettings settings(QStringLiteral("Kalvor"), QStringLiteral("Kalvor Relictor"));
    for (const auto& [stored, expected] : {std::pair{1, 1}, std::pair{0, 0}, std::pair{999, 0}, std::pair{-1, 0}}) {
      settings.setValue(QStringLiteral("Settings/Language"), stored);
      settings.sync();
      QCOMPARE(relictor::l10n::StoredLanguage(), expected);
    }
    settings.remove(QStringLiteral("Settings/Language"));
    settings.sync();
    QCOMPARE(relictor::l10n::StoredLanguage(), 0);
  }

  // In German the whole way through an update: the button's translated
  // texts still tell its state.
  void anUpdateInGerman() {
    QVERIFY(relictor::l10n::InstallTranslations(*qApp, QStringLiteral("patchwell"), 1));
    Installation install(key_);
    PublishRelease(server_, key_, QStringLiteral("1.200"), Release());
    auto d = Dialog(install);
    QCOMPARE(Status(*d), QStringLiteral("Klicken Sie auf „Weiter“, um nach verfügbaren Aktualisierungen zu suchen"));
    QCOMPARE(Action(*d)->text(), QStringLiteral("Weiter"));
    Click(Action(*d));
    QCOMPARE(Status(*d), QStringLiteral("Neue Version gefunden: Relictor 1.200"));
    QCOMPARE(Action(*d)->text(), QStringLiteral("&Aktualisieren"));
    Click(Action(*d));
    QCOMPARE(Status(*d), QStringLiteral("Aktualisierung abgeschlossen"));
    QCOMPARE(Action(*d)->text(), QStringLiteral("&Fertigstellen"));
    QCOMPARE(ReadFile(install.File(QStringLiteral("relictor"))), Release()[0].data);
    QSignalSpy finished(d.get(), &QDialog::finished);
    Click(Action(*d));
    QCOMPARE(finished.size(), 1);
    RemoveTranslations();
    QCOMPARE(Dialog(install)->findChild<QPushButton*>(QStringLiteral("cancelButton"))->text(), QStringLiteral("Cancel"));
  }

  void theAboutBox() {
    Installation install(key_);
    auto d = Dialog(install);
    MessageBoxAnswer answer(QMessageBox::Ok);
    Click(d->findChild<QPushButton*>(QStringLiteral("aboutButton")));
    QVERIFY(answer.seen);
    QCOMPARE(answer.title, QStringLiteral("About Kalvor Patchwell"));
    QCOMPARE(answer.text, QStringLiteral("Kalvor Patchwell Version 1.000"));
  }

  void nextFindsANewerRelease() {
    Installation install(key_);
    PublishRelease(server_, key_, QStringLiteral("1.200"), Release());
    auto d = Dialog(install);
    QSignalSpy statuses(d.get(), &CPatchwellDlg::statusChanged);
    Click(Action(*d));
    QCOMPARE(statuses.size(), 3);
    QCOMPARE(statuses[0][0].toString(), QStringLiteral("Connecting to server..."));
    QCOMPARE(statuses[1][0].toString(), QStringLiteral("Read version infomation..."));
    QCOMPARE(Status(*d), QStringLiteral("Finded new version: Relictor 1.200"));
    QCOMPARE(Action(*d)->text(), QStringLiteral("Update(&U)"));
    QVERIFY(Action(*d)->isEnabled());
    // Nothing is downloaded before the user asks for it.
    QCOMPARE(server_.Requests(), QStringList({kDescriptionPath, kSignaturePath}));
  }

  void nextFindsNothingNewer() {
    Installation install(key_);
    PublishRelease(server_, key_, QStringLiteral("1.1"), Release());
    auto d = Dialog(install);
    Click(Action(*d));
    QCOMPARE(Status(*d), QStringLiteral("Your version is the last version"));
    QVERIFY(!Action(*d)->isEnabled());
  }

  void anUnverifiedReleaseIsNotOffered() {
    Installation install(key_);
    SigningKey stranger;
    PublishRelease(server_, stranger, QStringLiteral("1.200"), Release());
    auto d = Dialog(install);
    Click(Action(*d));
    QVERIFY2(Status(*d).contains(QStringLiteral("cannot be verified")), qPrintable(Status(*d)));
    QVERIFY(!Action(*d)->isEnabled());
    QCOMPARE(Action(*d)->text(), QStringLiteral("Next"));
  }

  void aServerErrorIsShownAndNextCanBeTriedAgain() {
    Installation install(key_);
    PublishRelease(server_, key_, QStringLiteral("1.200"), Release());
    server_.SetRule(kDescriptionPath, Rule("status", 500));
    auto d = Dialog(install);
    {
      MessageBoxAnswer answer(QMessageBox::Ok);
      Click(Action(*d));
      QVERIFY(answer.seen);
      QVERIFY2(answer.text.contains(QStringLiteral("500")), qPrintable(answer.text));
    }
    QCOMPARE(Status(*d), QStringLiteral("Can't connect to server"));
    QCOMPARE(Action(*d)->text(), QStringLiteral("Next"));
    QVERIFY(Action(*d)->isEnabled());
    server_.ClearRules();
    Click(Action(*d));
    QCOMPARE(Action(*d)->text(), QStringLiteral("Update(&U)"));
  }

  void aCompleteUpdate() {
    Installation install(key_);
    const QList<ServedFile> release = Release();
    PublishRelease(server_, key_, QStringLiteral("1.200"), release);
    const QFile::Permissions oldPermissions = QFileInfo(install.File(QStringLiteral("relictor"))).permissions();
    auto d = Dialog(install);
    Click(Action(*d));
    QCOMPARE(Action(*d)->text(), QStringLiteral("Update(&U)"));
    QSignalSpy statuses(d.get(), &CPatchwellDlg::statusChanged);
    Click(Action(*d));

    QCOMPARE(Status(*d), QStringLiteral("Update completed"));
    QCOMPARE(Action(*d)->text(), QStringLiteral("Complete(&O)"));
    QCOMPARE(Products(*d), QStringList({"Relictor 1.200"}));
    QCOMPARE(Bar(*d)->value(), 100);
    QStringList shown;
    for (const QList<QVariant>& s : statuses) shown << s[0].toString();
    QVERIFY(shown.contains(QStringLiteral("Downloading file: /update/1.200/relictor")));
    QVERIFY(shown.contains(QStringLiteral("/update/1.200/samples.bin update completed")));
    // Byte for byte, and the program keeps its permissions.
    QCOMPARE(ReadFile(install.File(QStringLiteral("relictor"))), release[0].data);
    QCOMPARE(ReadFile(install.File(QStringLiteral("samples.bin"))), release[1].data);
    QCOMPARE(QFileInfo(install.File(QStringLiteral("relictor"))).permissions(), oldPermissions);
    QCOMPARE(ProductVersionOfFile(install.File(QStringLiteral("relictor")).toStdString()), std::string("1.200"));
    QCOMPARE(FolderEntries(install.Folder()), QStringList({"relictor", "relictor_update.pub", "samples.bin"}));

    QSignalSpy finished(d.get(), &QDialog::finished);
    Click(Action(*d));
    QCOMPARE(finished.size(), 1);
    QCOMPARE(finished[0][0].toInt(), int(QDialog::Accepted));
  }

  void aFailedFileLeavesTheInstallationAsItWas_data() {
    QTest::addColumn<QJsonObject>("rule");
    QTest::addColumn<QString>("status");
    QTest::newRow("404") << Rule("status", 404) << "/update/1.200/samples.bin isn't exist";
    QTest::newRow("500") << Rule("status", 500) << "500";
    QTest::newRow("wrong SHA-256") << QJsonObject() << "SHA-256";
    QTest::newRow("server closes mid-file") << Rule("close_after", 100000) << "";
    QTest::newRow("larger than its length") << Rule("short_length", 5000) << "SHA-256";
    QTest::newRow("slow server") << Rule("delay", 4) << "";
  }
  void aFailedFileLeavesTheInstallationAsItWas() {
    QFETCH(QJsonObject, rule);
    QFETCH(QString, status);
    Installation install(key_);
    QList<ServedFile> release = Release();
    PublishRelease(server_, key_, QStringLiteral("1.200"), release);
    if (rule.isEmpty()) server_.PutFile(release[1].serverPath, RandomBytes(300000, 4));  // not what was signed
    server_.SetRule(release[1].serverPath, rule);
    const QByteArray old = ReadFile(install.File(QStringLiteral("relictor")));
    const QStringList before = FolderEntries(install.Folder());

    auto d = Dialog(install);
    Click(Action(*d));
    Click(Action(*d));
    QVERIFY2(Status(*d).contains(status), qPrintable(Status(*d)));
    QVERIFY(Status(*d) != QStringLiteral("Update completed"));
    QCOMPARE(Action(*d)->text(), QStringLiteral("Complete(&O)"));
    // The failure shows as one: an empty bar, and the whole message with
    // its last sentence, however long the message is.
    QCOMPARE(Bar(*d)->value(), 0);
    QVERIFY2(Status(*d).contains(QStringLiteral("Nothing was installed")), qPrintable(Status(*d)));
    auto* label = d->findChild<QLabel*>(QStringLiteral("statusText"));
    QTest::qWait(10);
    QVERIFY2(label->height() >= label->heightForWidth(label->width()),
             qPrintable(QStringLiteral("%1 < %2").arg(label->height()).arg(label->heightForWidth(label->width()))));
    QCOMPARE(Products(*d), QStringList({"Relictor 1.100"}));
    QCOMPARE(ReadFile(install.File(QStringLiteral("relictor"))), old);
    QCOMPARE(FolderEntries(install.Folder()), before);  // no .upg, no new file
  }

  // A release made by scripts/make-release, as a maintainer publishes one.
  void aReleaseMadeByTheScriptInstalls() {
    QTemporaryDir work;
    const QString script = SourceDir() + QStringLiteral("/scripts/make-release");
    const QString privateKey = work.filePath(QStringLiteral("signing.pem"));
    const QString publicKey = work.filePath(QStringLiteral("relictor_update.pub"));
    QCOMPARE(QProcess::execute(script, {QStringLiteral("new-key"), privateKey, publicKey}), 0);
    const QString staging = work.filePath(QStringLiteral("files"));
    QDir().mkpath(staging);
    QVERIFY(QFile::copy(FakeRelictorNextPath(), staging + QStringLiteral("/relictor")));
    const QByteArray notes = "What is new in 1.200\n";
    WriteFile(staging + QStringLiteral("/notes.txt"), notes);
    const QString out = work.filePath(QStringLiteral("out"));
    // A version that the program does not carry is refused.
    QVERIFY(QProcess::execute(script, {QStringLiteral("build"), QStringLiteral("--key"), privateKey, QStringLiteral("--version"),
                                       QStringLiteral("1.300"), QStringLiteral("--out"), out, staging + QStringLiteral("/relictor")}) != 0);
    QCOMPARE(QProcess::execute(script, {QStringLiteral("build"), QStringLiteral("--key"), privateKey, QStringLiteral("--version"),
                                        QStringLiteral("1.200"), QStringLiteral("--out"), out, staging + QStringLiteral("/relictor"),
                                        staging + QStringLiteral("/notes.txt")}),
             0);
    for (const QString& name : {QStringLiteral("relictor_update.ini"), QStringLiteral("relictor_update.ini.sig"),
                                QStringLiteral("1.200/relictor"), QStringLiteral("1.200/notes.txt")})
      server_.PutFile(QStringLiteral("/update/") + name, ReadFile(out + QStringLiteral("/update/") + name));

    Installation install(key_);
    QFile::remove(install.KeyPath());
    QVERIFY(QFile::copy(publicKey, install.KeyPath()));
    auto d = Dialog(install);
    Click(Action(*d));
    QCOMPARE(Status(*d), QStringLiteral("Finded new version: Relictor 1.200"));
    Click(Action(*d));
    QCOMPARE(Status(*d), QStringLiteral("Update completed"));
    QCOMPARE(ReadFile(install.File(QStringLiteral("relictor"))), next_);
    QCOMPARE(ReadFile(install.File(QStringLiteral("notes.txt"))), notes);
    QVERIFY(!QFileInfo(install.File(QStringLiteral("notes.txt"))).isExecutable());
  }

  void aFileWithoutALengthIsStoredWithoutProgress() {
    Installation install(key_);
    const QList<ServedFile> release = {{QStringLiteral("/update/1.200/relictor"), next_}};
    PublishRelease(server_, key_, QStringLiteral("1.200"), release);
    server_.SetRule(release[0].serverPath, Rule("no_length", true));
    auto d = Dialog(install);
    Click(Action(*d));
    QSignalSpy progress(Bar(*d), &QProgressBar::valueChanged);
    Click(Action(*d));
    QCOMPARE(Status(*d), QStringLiteral("Update completed"));
    QCOMPARE(ReadFile(install.File(QStringLiteral("relictor"))), next_);
    QCOMPARE(progress.size(), 0);
    QCOMPARE(Bar(*d)->value(), 0);
  }

  // Bytes a server sends beyond the length it gave are not part of the
  // file: the file arrives whole and matches its digest.
  void bytesBeyondTheLengthAreNotStored() {
    Installation install(key_);
    const QList<ServedFile> release = {{QStringLiteral("/update/1.200/relictor"), next_}};
    PublishRelease(server_, key_, QStringLiteral("1.200"), release);
    server_.SetRule(release[0].serverPath, Rule("extra", 5000));
    auto d = Dialog(install);
    Click(Action(*d));
    Click(Action(*d));
    QCOMPARE(Status(*d), QStringLiteral("Update completed"));
    QCOMPARE(ReadFile(install.File(QStringLiteral("relictor"))), next_);
  }

  void aRunningRelictorIsClosedOnlyOnOk() {
    Installation install(key_);
    Installation elsewhere(key_);
    PublishRelease(server_, key_, QStringLiteral("1.200"), Release());
    QProcess running, other;
    running.start(install.File(QStringLiteral("relictor")), {QStringLiteral("60")});
    other.start(elsewhere.File(QStringLiteral("relictor")), {QStringLiteral("60")});
    QVERIFY(running.waitForStarted());
    QVERIFY(other.waitForStarted());
    QTRY_COMPARE(FindRunningRelictor(install.Folder()).size(), std::size_t{1});
    QCOMPARE(FindRunningRelictor(install.Folder()).front(), static_cast<pid_t>(running.processId()));

    auto d = Dialog(install);
    Click(Action(*d));
    server_.ClearRequests();
    {
      MessageBoxAnswer answer(QMessageBox::Cancel);
      Click(Action(*d));
      QVERIFY(answer.seen);
      QCOMPARE(answer.text, QStringLiteral("Relictor is running! Close it?"));
    }
    QCOMPARE(Action(*d)->text(), QStringLiteral("Update(&U)"));
    QVERIFY(Action(*d)->isEnabled());
    QCOMPARE(running.state(), QProcess::Running);
    QVERIFY(server_.Requests().isEmpty());

    {
      MessageBoxAnswer answer(QMessageBox::Ok);
      Click(Action(*d));
      QVERIFY(answer.seen);
    }
    QTRY_COMPARE(running.state(), QProcess::NotRunning);
    QCOMPARE(running.exitStatus(), QProcess::CrashExit);  // ended by SIGTERM
    QCOMPARE(Status(*d), QStringLiteral("Update completed"));
    QCOMPARE(ReadFile(install.File(QStringLiteral("relictor"))), next_);
    // The relictor of another folder runs on.
    QCOMPARE(other.state(), QProcess::Running);
    other.kill();
    other.waitForFinished();
  }

  void cancellingADownloadClosesWithNothingChanged() {
    Installation install(key_);
    QList<ServedFile> release = Release();
    PublishRelease(server_, key_, QStringLiteral("1.200"), release);
    server_.SetRule(release[1].serverPath, Rule("trickle", 0.05));
    const QStringList before = FolderEntries(install.Folder());
    auto d = Dialog(install);
    Click(Action(*d));
    QSignalSpy finished(d.get(), &QDialog::finished);
    QTimer::singleShot(800, d.get(), [&]() { Click(d->findChild<QPushButton*>(QStringLiteral("cancelButton"))); });
    Click(Action(*d));
    QCOMPARE(finished.size(), 1);
    QCOMPARE(finished[0][0].toInt(), int(QDialog::Rejected));
    QCOMPARE(FolderEntries(install.Folder()), before);
  }

  void automaticModeChecksBeforeTheDialogIsShown() {
    Installation install(key_);
    PublishRelease(server_, key_, QStringLiteral("1.200"), Release());
    PatchwellOptions o;
    o.client.server = server_.Url();
    o.client.trustedKeyPath = install.KeyPath();
    o.client.workingFolder = install.Folder();
    CPatchwellDlg d(o, true);
    d.Initialise();
    QVERIFY(!d.isVisible());
    QCOMPARE(Status(d), QStringLiteral("Finded new version: Relictor 1.200"));
    QCOMPARE(Action(d)->text(), QStringLiteral("Update(&U)"));

    PublishRelease(server_, key_, QStringLiteral("1.100"), Release());
    CPatchwellDlg current(o, true);
    current.Initialise();
    QCOMPARE(Status(current), QStringLiteral("Your version is the last version"));
    QVERIFY(!Action(current)->isEnabled());
  }

  void theCommandLine() {
    QVERIFY(IsAutomaticMode({QStringLiteral("q")}));
    QVERIFY(IsAutomaticMode({QStringLiteral("Q")}));
    QVERIFY(IsAutomaticMode({QStringLiteral(" q ")}));
    QVERIFY(!IsAutomaticMode({}));
    QVERIFY(!IsAutomaticMode({QStringLiteral("q"), QStringLiteral("x")}));
    QVERIFY(!IsAutomaticMode({QStringLiteral("quiet")}));
    QVERIFY(!IsAutomaticMode({QString(127, QLatin1Char(' ')) + QStringLiteral("xq")}));
    QVERIFY(IsAutomaticMode({QString(126, QLatin1Char(' ')) + QStringLiteral("q")}));
  }

  // The program started in the installation's folder, as the window starts
  // it: with "q" it asks the server by itself, without it waits for Next.
  void theProgramWithAndWithoutQ_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("version");
    QTest::addColumn<bool>("asks");
    QTest::newRow("q, newer release") << QStringList{"q"} << "1.200" << true;
    QTest::newRow("q, no newer release") << QStringList{"q"} << "1.100" << true;
    QTest::newRow("no argument") << QStringList{} << "1.200" << false;
  }
  void theProgramWithAndWithoutQ() {
    QFETCH(QStringList, arguments);
    QFETCH(QString, version);
    QFETCH(bool, asks);
    Installation install(key_);
    PublishRelease(server_, key_, version, Release());
    const QString program = install.File(QStringLiteral("patchwell"));
    QVERIFY(QFile::copy(QStringLiteral(RELICTOR_PATCHWELL), program));
    QFile::setPermissions(program, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QSettings settings(QStringLiteral("Kalvor"), QStringLiteral("Kalvor Relictor"));
    settings.setValue(QStringLiteral("Settings/UpdateServer"), server_.Url().toString());
    settings.sync();

    QProcess patchwell;
    patchwell.setWorkingDirectory(install.Folder());
    patchwell.start(program, arguments);
    QVERIFY(patchwell.waitForStarted());
    if (asks) {
      QTRY_COMPARE_WITH_TIMEOUT(server_.Requests().size(), 2, 10000);
      QCOMPARE(server_.Requests(), QStringList({kDescriptionPath, kSignaturePath}));
    }
    QTest::qWait(asks ? 300 : 1500);
    // Nothing is downloaded without the user's Update, whatever was found.
    QCOMPARE(server_.Requests().size(), asks ? 2 : 0);
    QCOMPARE(patchwell.state(), QProcess::Running);
    patchwell.kill();
    patchwell.waitForFinished();
    settings.remove(QStringLiteral("Settings/UpdateServer"));
    QCOMPARE(ReadFile(install.File(QStringLiteral("relictor"))), ReadFile(FakeRelictorPath()));
  }

  void aFolderTheUserCannotWriteIsLeftToThePackageManager() {
    if (::geteuid() == 0) QSKIP("root may write every folder");
    Installation install(key_);
    PublishRelease(server_, key_, QStringLiteral("1.200"), Release());
    QFile::setPermissions(install.Folder(), QFile::ReadOwner | QFile::ExeOwner);
    auto d = Dialog(install);
    Click(Action(*d));
    QVERIFY2(Status(*d).contains(QStringLiteral("package manager")), qPrintable(Status(*d)));
    QVERIFY(!Action(*d)->isEnabled());
    QCOMPARE(server_.Requests().size(), 2);
    QFile::setPermissions(install.Folder(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
  }
};

RELICTOR_UPDATE_TEST_MAIN(QApplication, PatchwellTest)
#include "test_patchwell.moc"
