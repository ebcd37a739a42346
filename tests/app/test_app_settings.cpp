// The application object: settings in the per-user store, starting the update manager, and where the help and the
// start page are found.

#include <QAction>
#include <QDir>
#include <QFile>
#include <QMenuBar>
#include <QSettings>
#include <QTextBrowser>
#include <QTranslator>
#include <QTreeWidgetItem>

#include "app/app_paths.h"
#include "app/entry_list_ctrl.h"
#include "app/folders_tree_dlg.h"
#include "app/main_frame.h"
#include "app/relictor_app.h"
#include "app/vesk_view.h"
#include "app_test_support.h"
#include "l10n/languages.h"
#include "support/test_support.h"

namespace {

QSettings Store() {
  return QSettings(QStringLiteral("Kalvor"), QStringLiteral("Kalvor Relictor"));
}

void Put(const QString& key, const QVariant& value) {
  QSettings s(QStringLiteral("Kalvor"), QStringLiteral("Kalvor Relictor"));
  s.setValue(QStringLiteral("Settings/") + key, value);
  s.sync();
}

void ClearStore() {
  QSettings s(QStringLiteral("Kalvor"), QStringLiteral("Kalvor Relictor"));
  s.clear();
  s.sync();
}

// Waits for a file that a started process writes.
QByteArray WaitForFile(const QString& path) {
  for (int i = 0; i < 200; ++i) {
    QFile f(path);
    if (f.exists() && f.size() > 0 && f.open(QIODevice::ReadOnly)) {
      QByteArray data = f.readAll();
      if (data.endsWith('\n')) return data;
    }
    QTest::qWait(20);
  }
  return {};
}

}  // namespace

class AppSettingsTest : public QObject {
  Q_OBJECT

 private slots:
  void init() { ClearStore(); }

  void absentValuesTakeTheDefaults() {
    CRelictorApp app;
    app.replaceChar = 'x';
    app.autoUpdate = 5;
    app.LoadSettings();
    QCOMPARE(app.replaceChar, '_');
    QCOMPARE(app.autoUpdate, 0);
    QCOMPARE(app.language, quint16{0});
    QCOMPARE(app.GetHost().settings.replaceChar, '_');
  }

  void replaceCharIsTheFirstCharacterOrUnderscore_data() {
    QTest::addColumn<QString>("stored");
    QTest::addColumn<char>("loaded");
    QTest::newRow("empty") << QString() << '_';
    QTest::newRow("two characters") << QStringLiteral("ab") << 'a';
    QTest::newRow("one") << QStringLiteral("#") << '#';
    // Only a printable ASCII character can stand in a file name.
    QTest::newRow("control character") << QStringLiteral("\x01z") << '_';
    QTest::newRow("path separator") << QStringLiteral("/") << '/';
    QTest::newRow("not ASCII") << QStringLiteral("\u00e9") << '_';
  }
  void replaceCharIsTheFirstCharacterOrUnderscore() {
    QFETCH(QString, stored);
    QFETCH(char, loaded);
    Put(QStringLiteral("ReplaceChar"), stored);
    CRelictorApp app;
    app.LoadSettings();
    QCOMPARE(app.replaceChar, loaded);
    QCOMPARE(app.GetHost().settings.replaceChar, loaded);
  }

  void autoUpdateAndLanguageLoad() {
    Put(QStringLiteral("AutoUpdate"), 1);
    Put(QStringLiteral("Language"), 0x10002);
    CRelictorApp app;
    app.LoadSettings();
    QCOMPARE(app.autoUpdate, 1);
    // Only the low 16 bits count.
    QCOMPARE(app.language, quint16{2});
  }

  void saveWritesTheSettingsForTheNextStart() {
    Put(QStringLiteral("Language"), 3);
    CRelictorApp app;
    app.LoadSettings();
    app.autoUpdate = 1;
    app.replaceChar = '$';
    app.language = 7;
    app.SaveSettings();
    QSettings s = Store();
    QCOMPARE(s.value(QStringLiteral("Settings/AutoUpdate")).toInt(), 1);
    QCOMPARE(s.value(QStringLiteral("Settings/ReplaceChar")).toString(), QStringLiteral("$"));
    QCOMPARE(s.value(QStringLiteral("Settings/Language")).toInt(), 7);
    // The readers see the new character from the next folder read on.
    QCOMPARE(app.GetHost().settings.replaceChar, '$');
  }

  void patchwellStartsBesideTheProgramWithQInQuietMode() {
    relictor::test::TempDir dir;
    QString folder = QString::fromStdString(dir.Path().string());
    QString log = folder + QStringLiteral("/log");
    // A stand-in update manager that notes its arguments and folder.
    QString script = folder + QStringLiteral("/patchwell");
    QFile f(script);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(QStringLiteral("#!/bin/sh\necho \"args=[$*] cwd=$(pwd)\" > '%1.tmp' && mv '%1.tmp' '%1'\n").arg(log).toUtf8());
    f.close();
    QVERIFY(f.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    CRelictorApp app;
    app.SetPatchwellFolder(folder);
    QVERIFY(app.LaunchPatchwell(true));
    QCOMPARE(WaitForFile(log), QStringLiteral("args=[q] cwd=%1\n").arg(folder).toUtf8());
    QFile::remove(log);
    QVERIFY(app.LaunchPatchwell(false));
    QCOMPARE(WaitForFile(log), QStringLiteral("args=[] cwd=%1\n").arg(folder).toUtf8());
  }

  void aMissingPatchwellIsSilent() {
    relictor::test::TempDir dir;
    CRelictorApp app;
    app.SetPatchwellFolder(QString::fromStdString(dir.Path().string()));
    QVERIFY(!app.LaunchPatchwell(true));
    QVERIFY(!app.LaunchPatchwell(false));
  }

  void theStartUpCheckFindsNothingWithoutTheUpdateClient() {
    Put(QStringLiteral("AutoUpdate"), 1);
    CRelictorApp app;
    app.LoadSettings();
    QVERIFY(!app.CheckForUpdateAtStartup());
  }

  void dataFilesAreLookedForInTheCurrentFolderFirst() {
    relictor::test::TempDir dir;
    QString folder = QString::fromStdString(dir.Path().string());
    QVERIFY(QDir(folder).mkpath(QStringLiteral("Media")));
    QVERIFY(QDir(folder).mkpath(QStringLiteral("help")));
    QFile page(folder + QStringLiteral("/Media/index.htm"));
    QVERIFY(page.open(QIODevice::WriteOnly));
    page.write("<html><body><p>start page from the current folder</p></body></html>");
    page.close();
    QString previous = QDir::currentPath();
    QDir::setCurrent(folder);
    QCOMPARE(DataFolders().front(), folder);
    QCOMPARE(FindDataFile(QStringLiteral("Media/index.htm")), folder + QStringLiteral("/Media/index.htm"));
    {
      // The view shows that page.
      apptest::Window window({});
      QVERIFY(window.Frame()->View()->StartPage()->toPlainText().contains(QStringLiteral("current folder")));
    }
    // Then the program's own folder, then the installed data folder. The
    // current folder stays the temporary one while this is checked: CTest
    // starts the test in the program's folder, and the same folder is not
    // listed twice.
    QString programFolder = QCoreApplication::applicationDirPath();
    QCOMPARE(DataFolders().value(1), programFolder);
    QVERIFY(DataFolders().last().endsWith(QStringLiteral("share/relictor")));
    QString probe = QStringLiteral("probe-%1/page.html").arg(QCoreApplication::applicationPid());
    QVERIFY(QDir(programFolder).mkpath(probe.section('/', 0, 0)));
    QFile beside(programFolder + '/' + probe);
    QVERIFY(beside.open(QIODevice::WriteOnly));
    beside.close();
    QCOMPARE(FindDataFile(probe), programFolder + '/' + probe);
    QDir(programFolder + '/' + probe.section('/', 0, 0)).removeRecursively();
    QVERIFY(FindDataFile(QStringLiteral("no/such/file")).isEmpty());
    QDir::setCurrent(previous);
  }

  // Every language that ships has the window's catalogue, and in German
  // the window's menus, commands, tree and list columns are German; the
  // texts stay English without it.
  void theWindowInEveryShippedLanguage() {
    const auto& languages = relictor::l10n::ShippedLanguages();
    auto removeTranslations = [] {
      for (QTranslator* t : qApp->findChildren<QTranslator*>()) {
        QCoreApplication::removeTranslator(t);
        delete t;
      }
    };
    for (std::size_t i = 1; i < languages.size(); ++i) {
      QVERIFY2(relictor::l10n::InstallTranslations(*qApp, QStringLiteral("relictor"), static_cast<int>(i)),
               qPrintable(languages[i].name));
      removeTranslations();
    }
    auto textsOf = [](CMainFrame* frame) {
      return QStringList{frame->menuBar()->actions().front()->text(), frame->Action(CMainFrame::Command::kRecover)->text(),
                         frame->NavigationPane()->RootItem()->text(0),
                         frame->View()->List()->Model()->headerData(0, Qt::Horizontal).toString()};
    };
    QStringList english;
    {
      apptest::Window window({});
      english = textsOf(window.Frame());
    }
    QVERIFY(relictor::l10n::InstallTranslations(*qApp, QStringLiteral("relictor"), 1));
    {
      apptest::Window window({});
      QCOMPARE(textsOf(window.Frame()),
               QStringList({QStringLiteral("&Datei"), QStringLiteral("Wiederherstellen..."),
                            QStringLiteral("Arbeitsplatz"), QStringLiteral("Dateiname")}));
    }
    // Without the catalogue the same window speaks English again.
    removeTranslations();
    apptest::Window window({});
    QCOMPARE(textsOf(window.Frame()), english);
  }
};

RELICTOR_APP_TEST_MAIN(AppSettingsTest)
#include "test_app_settings.moc"
