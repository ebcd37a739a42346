// The window program's command line: sources, "--", and the help and
// version answered on the terminal without a display.

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QProcessEnvironment>
#include <QTest>

#include "app/command_line.h"

class CommandLineTest : public QObject {
  Q_OBJECT

 private slots:
  void words_data() {
    QTest::addColumn<QStringList>("words");
    QTest::addColumn<int>("action");
    QTest::addColumn<QStringList>("sources");
    using A = WindowCommandLine::Action;
    QTest::newRow("nothing") << QStringList{} << int(A::Run) << QStringList{};
    QTest::newRow("sources") << QStringList{"card.img", "/dev/sdb"} << int(A::Run) << QStringList{"card.img", "/dev/sdb"};
    QTest::newRow("help") << QStringList{"--help"} << int(A::Help) << QStringList{};
    QTest::newRow("help after a source") << QStringList{"card.img", "-h"} << int(A::Help) << QStringList{};
    QTest::newRow("version") << QStringList{"--version"} << int(A::Version) << QStringList{};
    QTest::newRow("version after an unknown option") << QStringList{"-platform", "--version"} << int(A::Version)
                                                     << QStringList{};
    QTest::newRow("unknown option") << QStringList{"--verbose", "card.img"} << int(A::Error) << QStringList{};
    QTest::newRow("dash alone is a name") << QStringList{"-"} << int(A::Run) << QStringList{"-"};
    QTest::newRow("after --") << QStringList{"--", "--version", "-x.img"} << int(A::Run)
                              << QStringList{"--version", "-x.img"};
  }
  void words() {
    QFETCH(QStringList, words);
    QFETCH(int, action);
    QFETCH(QStringList, sources);
    const WindowCommandLine line = ParseWindowCommandLine(words);
    QCOMPARE(int(line.action), action);
    QCOMPARE(line.sources, sources);
    QCOMPARE(line.error.isEmpty(), line.action != WindowCommandLine::Action::Error);
  }

  // The program itself, with no display at all: the answers come on the
  // terminal and the window is never tried.
  void theProgramAnswersWithoutADisplay_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("out");
    QTest::addColumn<QString>("err");
    QTest::newRow("--version") << QStringList{"--version"} << 0 << "relictor " RELICTOR_PRODUCT_VERSION "\n" << "";
    QTest::newRow("--help") << QStringList{"--help"} << 0 << "usage: relictor" << "";
    QTest::newRow("unknown") << QStringList{"-platform", "offscreen", "--bogus"} << 2 << ""
                             << "relictor: unknown option --bogus";
  }
  void theProgramAnswersWithoutADisplay() {
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QString, out);
    QFETCH(QString, err);
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) env.remove(QString::fromLatin1(name));
    // Without a runtime folder the toolkit warns on standard error.
    QTemporaryDir runtime;
    QVERIFY(runtime.isValid());
    QFile::setPermissions(runtime.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime.path());
    p.setProcessEnvironment(env);
    p.start(QStringLiteral(RELICTOR_WINDOW_PROGRAM), arguments);
    QVERIFY(p.waitForFinished(20000));
    QCOMPARE(p.exitStatus(), QProcess::NormalExit);
    QCOMPARE(p.exitCode(), exitCode);
    const QString stdOut = QString::fromLocal8Bit(p.readAllStandardOutput());
    const QString stdErr = QString::fromLocal8Bit(p.readAllStandardError());
    QVERIFY2(out.isEmpty() ? stdOut.isEmpty() : stdOut.startsWith(out), qPrintable(stdOut));
    QVERIFY2(err.isEmpty() ? stdErr.isEmpty() : stdErr.startsWith(err), qPrintable(stdErr));
  }
};

QTEST_GUILESS_MAIN(CommandLineTest)
#include "test_command_line.moc"
