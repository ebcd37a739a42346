// The update client against a real HTTP server on 127.0.0.1.

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QJsonObject>
#include <QProcess>
#include <QSettings>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QTcpServer>
#include <QtTest>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "update/update_client.h"
#include "update_test_support.h"

using namespace relictor::update;
using namespace relictor::update::testing;
using namespace std::chrono_literals;

namespace {

// A download observer that only records.
struct Recorder : DownloadObserver {
  QStringList statuses, errors;
  QList<int> progress;
  void Status(const QString& t) override { statuses << t; }
  void Progress(int p) override { progress << p; }
  void Error(const QString& t) override { errors << t; }
};

QJsonObject Rule(const char* key, const QJsonValue& value) { return QJsonObject{{QString::fromLatin1(key), value}}; }

}  // namespace

class UpdateClientTest : public QObject {
  Q_OBJECT

  TestServer server_;
  SigningKey key_;

  UpdateClientOptions Options(const Installation& install) const {
    UpdateClientOptions o;
    o.server = server_.Url();
    o.trustedKeyPath = install.KeyPath();
    o.workingFolder = install.Folder();
    o.transferTimeout = 2s;
    o.descriptionTimeout = 3s;
    return o;
  }

 private slots:
  void initTestCase() { QVERIFY(server_.Start()); }

  void init() {
    server_.ClearRules();
    server_.ClearRequests();
    server_.RemoveFile(kSignaturePath);
  }

  void theServersVersionIsComparedWithTheInstalledOne_data() {
    QTest::addColumn<QByteArray>("description");
    QTest::addColumn<bool>("newer");
    QTest::addColumn<QString>("remote");
    QTest::newRow("equal") << QByteArray("[Relictor]\nVERSION=1.100\n") << false << "1.100";
    QTest::newRow("equal number, other text") << QByteArray("[Relictor]\nVERSION=1.1\n") << false << "1.1";
    QTest::newRow("greater") << QByteArray("[Relictor]\nVERSION=1.2\n") << true << "1.2";
    QTest::newRow("older") << QByteArray("[Relictor]\nVERSION=1.05\n") << false << "1.05";
    QTest::newRow("missing") << QByteArray("[Relictor]\nOTHER=5\n") << false << "1.000";
    QTest::newRow("not a number") << QByteArray("[Relictor]\nVERSION=latest\n") << false << "latest";
    QTest::newRow("empty") << QByteArray("[Relictor]\nVERSION=\n") << false << "";
  }
  void theServersVersionIsComparedWithTheInstalledOne() {
    QFETCH(QByteArray, description);
    QFETCH(bool, newer);
    QFETCH(QString, remote);
    Installation install(key_);
    PublishDescription(server_, key_, description);
    CUpdateClient client(Options(install));
    QVERIFY(client.Connect(false));
    QCOMPARE(client.LocalVersion(), QStringLiteral("1.100"));
    QCOMPARE(client.WorkingFolder(), QDir(install.Folder()).absolutePath() + QLatin1Char('/'));
    QVERIFY(client.RequestDescription(false));
    QCOMPARE(client.FetchAndCompare(), newer);
    QCOMPARE(client.DescriptionVerification(), CUpdateClient::Verification::Verified);
    QCOMPARE(client.RemoteVersion(), remote);
    QCOMPARE(server_.Requests(), QStringList({kDescriptionPath, kSignaturePath}));
  }

  void theDescriptionIsKeptInAPrivateFolder() {
    Installation install(key_);
    const QByteArray description = "[Relictor]\nVERSION=1.2\n";
    PublishDescription(server_, key_, description);
    QString folder;
    {
      CUpdateClient client(Options(install));
      QVERIFY(client.Connect(false));
      QVERIFY(client.RequestDescription(false));
      QVERIFY(client.FetchAndCompare());
      folder = client.TemporaryFolder();
      QVERIFY(client.DescriptionPath().startsWith(folder));
      QCOMPARE(ReadFile(client.DescriptionPath()), description);
      struct stat st {};
      QCOMPARE(::stat(QFile::encodeName(folder).constData(), &st), 0);
      QCOMPARE(st.st_mode & 0777, mode_t{0700});
      QCOMPARE(st.st_uid, ::getuid());
      QVERIFY(QFileInfo(folder).fileName() != QLatin1String("tmp"));
      // Two clients never share the folder.
      CUpdateClient second(Options(install));
      QVERIFY(second.Connect(false));
      QVERIFY(second.TemporaryFolder() != folder);
    }
    QVERIFY(!QFileInfo::exists(folder));
  }

  // A killed run leaves its folder behind; the next run clears it, and
  // nothing that belongs to a running process, to an older naming or that
  // is a link.
  void foldersOfEndedRunsAreCleared() {
    QTemporaryDir root;
    const pid_t ended = ::fork();
    if (ended == 0) ::_exit(0);
    QVERIFY(ended > 0);
    ::waitpid(ended, nullptr, 0);
    QDir dir(root.path());
    const QString stale = QStringLiteral("relictor-update-%1-Ab12Cd").arg(ended);
    const QString running = QStringLiteral("relictor-update-%1-Ef34Gh").arg(::getpid());
    const QString older = QStringLiteral("relictor-update-Ij56Kl");
    const QString other = QStringLiteral("unrelated-%1-Mn78Op").arg(ended);
    for (const QString& name : {stale, running, older, other}) QVERIFY(dir.mkpath(name + QStringLiteral("/inner")));
    WriteFile(dir.filePath(stale + QStringLiteral("/relictor_update.ini")), "[Relictor]\n");
    const QString target = dir.filePath(QStringLiteral("kept"));
    QVERIFY(dir.mkpath(QStringLiteral("kept")));
    const QString link = QStringLiteral("relictor-update-%1-Qr90St").arg(ended);
    QVERIFY(QFile::link(target, dir.filePath(link)));

    ClearStaleUpdateFolders(root.path());
    QVERIFY(!dir.exists(stale));
    for (const QString& name : {running, older, other, link, QStringLiteral("kept")})
      QVERIFY2(QFileInfo::exists(dir.filePath(name)), qPrintable(name));
  }

  void anErrorReplyIsNeverTakenForTheDescription_data() {
    QTest::addColumn<int>("status");
    QTest::newRow("404") << 404;
    QTest::newRow("500") << 500;
    QTest::newRow("redirection is not followed") << 301;
  }
  void anErrorReplyIsNeverTakenForTheDescription() {
    QFETCH(int, status);
    Installation install(key_);
    PublishDescription(server_, key_, "[Relictor]\nVERSION=1.2\n");
    server_.SetRule(kDescriptionPath, Rule("status", status));
    CUpdateClient client(Options(install));
    QStringList reported;
    client.SetErrorReporter([&](const QString& t) { reported << t; });
    QVERIFY(client.Connect(true));
    QVERIFY(!client.RequestDescription(false));
    QVERIFY(reported.isEmpty());
    QVERIFY(!client.RequestDescription(true));
    QCOMPARE(reported.size(), 1);
    QVERIFY2(reported[0].contains(QString::number(status)), qPrintable(reported[0]));
    QVERIFY(!client.FetchAndCompare());
    QVERIFY(!QFileInfo::exists(client.DescriptionPath()));
  }

  void aSlowServerIsGivenUpOnInTime() {
    Installation install(key_);
    PublishDescription(server_, key_, "[Relictor]\nVERSION=1.2\n");
    server_.SetRule(kDescriptionPath, Rule("delay", 5));
    UpdateClientOptions o = Options(install);
    o.transferTimeout = 700ms;
    CUpdateClient client(o);
    QVERIFY(client.Connect(false));
    QElapsedTimer timer;
    timer.start();
    QVERIFY(!client.RequestDescription(false));
    QVERIFY2(timer.elapsed() < 3000, qPrintable(QString::number(timer.elapsed())));
    QVERIFY(!client.LastError().isEmpty());
  }

  void anEndlesslySlowDescriptionIsGivenUpOnInTime() {
    Installation install(key_);
    server_.SetRule(kDescriptionPath, Rule("trickle", 0.05));
    UpdateClientOptions o = Options(install);
    o.descriptionTimeout = 1200ms;
    CUpdateClient client(o);
    QVERIFY(client.Connect(false));
    QElapsedTimer timer;
    timer.start();
    QVERIFY(!client.RequestDescription(false));
    QVERIFY2(timer.elapsed() < 4000, qPrintable(QString::number(timer.elapsed())));
    QVERIFY2(client.LastError().contains(QStringLiteral("within")), qPrintable(client.LastError()));
  }

  void aHugeDescriptionIsRefused_data() {
    QTest::addColumn<QJsonObject>("rule");
    QTest::newRow("endless, no length") << Rule("flood", true);
    QTest::newRow("a gigabyte announced") << Rule("length", 1000000000);
  }
  void aHugeDescriptionIsRefused() {
    QFETCH(QJsonObject, rule);
    Installation install(key_);
    server_.SetRule(kDescriptionPath, rule);
    CUpdateClient client(Options(install));
    QVERIFY(client.Connect(false));
    QVERIFY(!client.RequestDescription(false));
    QVERIFY2(client.LastError().contains(QStringLiteral("larger")), qPrintable(client.LastError()));
  }

  void aSignedBinaryDescriptionOffersNothing() {
    Installation install(key_);
    QByteArray binary(4000, '\0');
    for (qsizetype i = 0; i < binary.size(); ++i) binary[i] = static_cast<char>((i * 7919) & 0xFF);
    PublishDescription(server_, key_, binary);
    CUpdateClient client(Options(install));
    QVERIFY(client.Connect(false));
    QVERIFY(client.RequestDescription(false));
    QVERIFY(!client.FetchAndCompare());
    QCOMPARE(client.RemoteVersion(), QStringLiteral("1.000"));
  }

  void anUnverifiedDescriptionOffersNothing_data() {
    QTest::addColumn<QString>("how");
    QTest::newRow("no signature") << "none";
    QTest::newRow("damaged signature") << "damaged";
    QTest::newRow("signed by another key") << "untrusted";
    QTest::newRow("signature of another text") << "other text";
    QTest::newRow("signature is an error page") << "500";
    QTest::newRow("no trusted key installed") << "no key";
    QTest::newRow("signed, but a hostile file name") << "hostile";
  }
  void anUnverifiedDescriptionOffersNothing() {
    QFETCH(QString, how);
    Installation install(key_);
    QByteArray description = "[Relictor]\nVERSION=9.0\nFILE0=/update/relictor\nSHA2560=" + QByteArray(64, 'a') + "\n";
    SigningKey other;
    if (how == QLatin1String("hostile")) {
      description = "[Relictor]\nVERSION=9.0\nFILE0=/update/..\nSHA2560=" + QByteArray(64, 'a') + "\n";
      PublishDescription(server_, key_, description);
    } else {
      server_.PutFile(kDescriptionPath, description);
    }
    if (how == QLatin1String("damaged")) {
      QByteArray s = key_.Sign(description);
      s[10] = static_cast<char>(s[10] ^ 0x40);
      server_.PutFile(kSignaturePath, s);
    } else if (how == QLatin1String("untrusted")) {
      server_.PutFile(kSignaturePath, other.Sign(description));
    } else if (how == QLatin1String("other text")) {
      server_.PutFile(kSignaturePath, key_.Sign("[Relictor]\nVERSION=1.0\n"));
    } else if (how == QLatin1String("500")) {
      server_.PutFile(kSignaturePath, key_.Sign(description));
      server_.SetRule(kSignaturePath, Rule("status", 500));
    } else if (how == QLatin1String("no key")) {
      server_.PutFile(kSignaturePath, key_.Sign(description));
      QVERIFY(QFile::remove(install.KeyPath()));
    }
    CUpdateClient client(Options(install));
    QVERIFY(client.Connect(false));
    QVERIFY(client.RequestDescription(false));
    QVERIFY(!client.FetchAndCompare());
    QCOMPARE(client.DescriptionVerification(), CUpdateClient::Verification::Unverified);
    QVERIFY(client.Description().files.empty());
    QVERIFY(!client.LastError().isEmpty());
  }

  void withoutAnInstalledRelictorNothingIsAsked() {
    Installation install(key_, false);
    PublishDescription(server_, key_, "[Relictor]\nVERSION=1.2\n");
    CUpdateClient client(Options(install));
    QStringList reported;
    client.SetErrorReporter([&](const QString& t) { reported << t; });
    QVERIFY(!client.Connect(true));
    QVERIFY(client.LocalVersion().isEmpty());
    QVERIFY(!client.RequestDescription(true));
    QVERIFY(!client.FetchAndCompare());
    QVERIFY(reported.isEmpty());
    QVERIFY(server_.Requests().isEmpty());
  }

  void theStartUpCheck() {
    Installation install(key_);
    StartupCheckOptions o;
    o.server = server_.Url();
    o.trustedKeyPath = install.KeyPath();
    o.timeout = 2s;
    PublishDescription(server_, key_, "[Relictor]\nVERSION=1.2\n");

    // "AutoUpdate" off: no network access at all.
    o.autoUpdate = false;
    QVERIFY(!NewerReleaseAtStartup(o, install.Folder()));
    QVERIFY(server_.Requests().isEmpty());

    o.autoUpdate = true;
    QVERIFY(NewerReleaseAtStartup(o, install.Folder()));
    QCOMPARE(server_.Requests().size(), 2);

    // A folder without relictor, an unsigned release, an equal version and
    // a silent server all mean no newer release, without a word.
    Installation empty(key_, false);
    QVERIFY(!NewerReleaseAtStartup(o, empty.Folder()));
    server_.RemoveFile(kSignaturePath);
    QVERIFY(!NewerReleaseAtStartup(o, install.Folder()));
    PublishDescription(server_, key_, "[Relictor]\nVERSION=1.100\n");
    QVERIFY(!NewerReleaseAtStartup(o, install.Folder()));
    server_.SetRule(kDescriptionPath, Rule("delay", 5));
    o.timeout = 600ms;
    QElapsedTimer timer;
    timer.start();
    QVERIFY(!NewerReleaseAtStartup(o, install.Folder()));
    QVERIFY2(timer.elapsed() < 3000, qPrintable(QString::number(timer.elapsed())));
  }

  void aServerThatIsNotThereFailsAtOnce() {
    Installation install(key_);
    QTcpServer closed;
    QVERIFY(closed.listen(QHostAddress::LocalHost));
    const quint16 port = closed.serverPort();
    closed.close();
    UpdateClientOptions o = Options(install);
    o.server = QUrl(QStringLiteral("http://127.0.0.1:%1").arg(port));
    CUpdateClient client(o);
    QVERIFY(client.Connect(false));
    QVERIFY(!client.RequestDescription(false));
    QVERIFY(!client.LastError().isEmpty());
  }

  // https:// goes through TLS: a certificate nobody vouches for is refused,
  // one the system trusts works.
  void https() {
    QTemporaryDir dir;
    const QString cert = dir.filePath(QStringLiteral("cert.pem"));
    const QString privateKey = dir.filePath(QStringLiteral("key.pem"));
    QCOMPARE(QProcess::execute(QStringLiteral("openssl"),
                               {QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-newkey"), QStringLiteral("ed25519"),
                                QStringLiteral("-nodes"), QStringLiteral("-keyout"), privateKey, QStringLiteral("-out"), cert,
                                QStringLiteral("-days"), QStringLiteral("2"), QStringLiteral("-subj"), QStringLiteral("/CN=127.0.0.1"),
                                QStringLiteral("-addext"), QStringLiteral("subjectAltName=IP:127.0.0.1")}),
             0);
    TestServer secure;
    QVERIFY(secure.Start(cert, privateKey));
    QCOMPARE(secure.Url().scheme(), QStringLiteral("https"));
    PublishDescription(secure, key_, "[Relictor]\nVERSION=1.2\n");
    Installation install(key_);
    UpdateClientOptions o = Options(install);
    o.server = secure.Url();
    {
      CUpdateClient client(o);
      QVERIFY(client.Connect(false));
      QVERIFY(!client.RequestDescription(false));
      QVERIFY2(client.LastError().contains(QStringLiteral("SSL")), qPrintable(client.LastError()));
      QVERIFY(secure.Requests().isEmpty());
    }
    const QSslConfiguration original = QSslConfiguration::defaultConfiguration();
    QSslConfiguration trusting = original;
    trusting.addCaCertificates(QSslCertificate::fromPath(cert));
    QSslConfiguration::setDefaultConfiguration(trusting);
    CUpdateClient client(o);
    QVERIFY(client.Connect(false));
    const bool fetched = client.RequestDescription(false);
    QSslConfiguration::setDefaultConfiguration(original);
    QVERIFY2(fetched, qPrintable(client.LastError()));
    QVERIFY(client.FetchAndCompare());
  }

  void serverAddresses() {
    QCOMPARE(ParseServerAddress(QStringLiteral("update.example")), QUrl(QStringLiteral("http://update.example:80")));
    QCOMPARE(ParseServerAddress(QStringLiteral("update.example:8080")).port(), 8080);
    QCOMPARE(ParseServerAddress(QStringLiteral("https://update.example")).port(), 443);
    QCOMPARE(ParseServerAddress(QStringLiteral("http://m.example/mirror")).path(), QStringLiteral("/mirror"));
    for (const char* bad : {"", "ftp://x", "http://", "file:///etc", "http://user:pw@host", "http://h/?q"})
      QVERIFY2(ParseServerAddress(QString::fromLatin1(bad)).isEmpty(), bad);

    QSettings settings(QStringLiteral("Kalvor"), QStringLiteral("Kalvor Relictor"));
    settings.remove(QStringLiteral("Settings/UpdateServer"));
    QCOMPARE(ConfiguredUpdateServer().host(), QStringLiteral("update.kalvor.invalid"));
    settings.setValue(QStringLiteral("Settings/UpdateServer"), QStringLiteral("http://127.0.0.1:1234"));
    settings.sync();
    QCOMPARE(ConfiguredUpdateServer(), QUrl(QStringLiteral("http://127.0.0.1:1234")));
    settings.remove(QStringLiteral("Settings/UpdateServer"));
  }

  void aServerUnderAPrefixIsAskedThere() {
    Installation install(key_);
    server_.PutFile(QStringLiteral("/mirror") + kDescriptionPath, "[Relictor]\nVERSION=1.2\n");
    server_.PutFile(QStringLiteral("/mirror") + kSignaturePath, key_.Sign("[Relictor]\nVERSION=1.2\n"));
    UpdateClientOptions o = Options(install);
    o.server.setPath(QStringLiteral("/mirror/"));
    CUpdateClient client(o);
    QVERIFY(client.Connect(false));
    QVERIFY(client.RequestDescription(false));
    QVERIFY(client.FetchAndCompare());
    QCOMPARE(server_.Requests().front(), QStringLiteral("/mirror") + kDescriptionPath);
  }

  void aFileAboveTheSizeBoundIsRefused() {
    Installation install(key_);
    const QByteArray data(4096, 'x');
    PublishRelease(server_, key_, QStringLiteral("1.2"), {{QStringLiteral("/update/big.bin"), data}});
    UpdateClientOptions o = Options(install);
    o.maxFileSize = 1000;
    CUpdateClient client(o);
    QVERIFY(client.Connect(false));
    QVERIFY(client.RequestDescription(false));
    QVERIFY(client.FetchAndCompare());
    Recorder r;
    QVERIFY(!client.DownloadFile(client.Description().files.at(0), r));
    QVERIFY(r.statuses.last().contains(QStringLiteral("larger")));
    server_.SetRule(QStringLiteral("/update/big.bin"), Rule("no_length", true));
    QVERIFY(!client.DownloadFile(client.Description().files.at(0), r));
    QCOMPARE(FolderEntries(install.Folder()), QStringList({"relictor", "relictor_update.pub"}));
  }
};

RELICTOR_UPDATE_TEST_MAIN(QCoreApplication, UpdateClientTest)
#include "test_update_client.moc"
