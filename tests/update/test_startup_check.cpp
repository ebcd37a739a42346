// The window's start-up update check, against the loopback update server:
// the window appears first and a newer verified release then starts the
// update manager with "q"; anything else starts nothing, and "AutoUpdate"
// off sends nothing at all.

#include <QApplication>
#include <QMenu>
#include <QMenuBar>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QTimer>
#include <QtTest>

#include "app/main_frame.h"
#include "app/relictor_app.h"
#include "update/product_version.h"
#include "update_test_support.h"

namespace {

// The main window the start-up made and showed (it deletes itself when
// closed).
CMainFrame* ShownFrame() {
  for (QWidget* w : QApplication::topLevelWidgets()) {
    if (auto* frame = qobject_cast<CMainFrame*>(w); frame && frame->isVisible()) return frame;
  }
  return nullptr;
}

}  // namespace

using namespace relictor::update;
using namespace relictor::update::testing;

namespace {

// Closes whatever modal dialog the window shows while it starts (its
// report on system volumes it could not open); the update check never
// shows one, which the tests check separately.
class ModalCloser {
 public:
  ModalCloser() {
    timer_.setInterval(50);
    QObject::connect(&timer_, &QTimer::timeout, [] {
      if (QWidget* w = QApplication::activeModalWidget()) w->close();
    });
    timer_.start();
  }

 private:
  QTimer timer_;
};

}  // namespace

class StartupCheckTest : public QObject {
  Q_OBJECT

  TestServer server_;
  SigningKey key_;

  static void Put(const QString& key, const QVariant& value) {
    QSettings s(QStringLiteral("Kalvor"), QStringLiteral("Kalvor Relictor"));
    s.setValue(QStringLiteral("Settings/") + key, value);
    s.sync();
  }

  // A stand-in update manager in the installation that notes its
  // arguments.
  static void PutPatchwell(const Installation& install) {
    const QString script = install.File(QStringLiteral("patchwell"));
    WriteFile(script, QStringLiteral("#!/bin/sh\necho \"args=[$*]\" > '%1.tmp' && mv '%1.tmp' '%1'\n")
                          .arg(install.File(QStringLiteral("started")))
                          .toUtf8());
    QFile::setPermissions(script, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
  }

  // Runs the window's start-up in `install`; returns what the stand-in
  // update manager noted (empty when it was not started).
  QByteArray StartWindow(const Installation& install, bool expectStart) {
    CRelictorApp app;
    app.SetPatchwellFolder(install.Folder());
    bool started = false;
    {
      ModalCloser closer;
      started = app.InitInstance({});
    }
    if (!started) return "start-up failed";
    CMainFrame* frame = ShownFrame();
    const bool shown = frame && frame->isVisible();
    const QString noted = install.File(QStringLiteral("started"));
    if (expectStart)
      for (int i = 0; i < 100 && !QFileInfo::exists(noted); ++i) QTest::qWait(50);
    else
      QTest::qWait(500);
    if (frame) frame->close();
    QTest::qWait(50);
    if (!shown) return "the window was not shown";
    return ReadFile(noted);
  }

 private slots:
  void initTestCase() {
    QVERIFY(server_.Start());
    Put(QStringLiteral("UpdateServer"), server_.Url().toString());
  }

  void init() {
    server_.ClearRules();
    server_.ClearRequests();
  }

  void theProgramCarriesItsVersion() {
    QCOMPARE(ProductVersionOfFile(RELICTOR_BUILT_RELICTOR), std::string(RELICTOR_EXPECTED_PRODUCT_VERSION));
  }

  void aNewerReleaseStartsTheUpdateManagerWithQ() {
    Installation install(key_);
    PutPatchwell(install);
    PublishDescription(server_, key_, "[Relictor]\nVERSION=1.2\n");
    Put(QStringLiteral("AutoUpdate"), 1);
    QCOMPARE(StartWindow(install, true), QByteArray("args=[q]\n"));
    QCOMPARE(server_.Requests(), QStringList({kDescriptionPath, kSignaturePath}));
  }

  void nothingNewerStartsNothing_data() {
    QTest::addColumn<QString>("how");
    QTest::newRow("same version") << "same";
    QTest::newRow("unsigned") << "unsigned";
    QTest::newRow("server error") << "500";
    QTest::newRow("no relictor in the folder") << "no relictor";
  }
  void nothingNewerStartsNothing() {
    QFETCH(QString, how);
    Installation install(key_, how != QLatin1String("no relictor"));
    PutPatchwell(install);
    PublishDescription(server_, key_, how == QLatin1String("same") ? "[Relictor]\nVERSION=1.1\n" : "[Relictor]\nVERSION=1.2\n");
    if (how == QLatin1String("unsigned")) server_.RemoveFile(kSignaturePath);
    if (how == QLatin1String("500")) server_.SetRule(kDescriptionPath, QJsonObject{{QStringLiteral("status"), 500}});
    Put(QStringLiteral("AutoUpdate"), 1);
    QCOMPARE(StartWindow(install, false), QByteArray());
  }

  // Help > "Check for Updates" starts the update manager without "q" and
  // without asking the server first.
  void theMenuCommandStartsTheUpdateManager() {
    Installation install(key_);
    PutPatchwell(install);
    Put(QStringLiteral("AutoUpdate"), 0);
    CRelictorApp app;
    app.SetPatchwellFolder(install.Folder());
    {
      ModalCloser closer;
      QVERIFY(app.InitInstance({}));
    }
    CMainFrame* frame = ShownFrame();
    QVERIFY(frame);
    QMenu* help = nullptr;
    for (QAction* a : frame->menuBar()->actions())
      if (a->text() == QStringLiteral("&Help")) help = a->menu();
    QVERIFY(help);
    QAction* check = nullptr;
    for (QAction* a : help->actions())
      if (a->text() == QStringLiteral("Check for Updates")) check = a;
    QVERIFY(check);
    help->popup(frame->mapToGlobal(QPoint(0, 0)));
    QVERIFY(QTest::qWaitForWindowExposed(help));
    QTest::mouseClick(help, Qt::LeftButton, {}, help->actionGeometry(check).center());
    const QString noted = install.File(QStringLiteral("started"));
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(noted), 5000);
    QCOMPARE(ReadFile(noted), QByteArray("args=[]\n"));
    QVERIFY(server_.Requests().isEmpty());
    frame->close();
    QTest::qWait(50);
  }

  void autoUpdateOffSendsNothing() {
    Installation install(key_);
    PutPatchwell(install);
    PublishDescription(server_, key_, "[Relictor]\nVERSION=1.2\n");
    Put(QStringLiteral("AutoUpdate"), 0);
    QCOMPARE(StartWindow(install, false), QByteArray());
    QVERIFY(server_.Requests().isEmpty());
  }
};

RELICTOR_UPDATE_TEST_MAIN(QApplication, StartupCheckTest)
#include "test_startup_check.moc"
