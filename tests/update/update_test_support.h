#pragma once
// Shared pieces of the update tests: the loopback update server, a signing
// key, releases published on the server, and a working folder with an
// installed (test) `relictor`.

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QUrl>

#include <memory>

namespace relictor::update::testing {

// Sets what every test binary needs before its application object exists:
// the offscreen platform, private runtime and settings folders (so that
// the tests' "UpdateServer" setting never touches the user's), and no proxy.
void PrepareTestEnvironment();

QString FakeRelictorPath();      // a program with the version note "1.100"
QString FakeRelictorNextPath();  // the same with "1.200"
QString SourceDir();

// The update server of the tests: tests/update/update_server.py, started
// on a free port of 127.0.0.1 and stopped with the object.
class TestServer {
 public:
  TestServer();
  ~TestServer();
  TestServer(const TestServer&) = delete;
  TestServer& operator=(const TestServer&) = delete;

  // With a certificate and its key (PEM files) the server speaks HTTPS.
  bool Start(const QString& certificate = QString(), const QString& key = QString());
  QUrl Url() const;
  QString Root() const { return dir_.path(); }
  // A file served at `path` ("/update/relictor_update.ini").
  void PutFile(const QString& path, const QByteArray& data);
  void RemoveFile(const QString& path);
  // How `path` is answered (see update_server.py); an empty rule is the
  // ordinary answer.
  void SetRule(const QString& path, const QJsonObject& rule);
  void ClearRules();
  // The paths requested so far, with runs of slashes made one.
  QStringList Requests() const;
  void ClearRequests();

 private:
  QTemporaryDir dir_;
  QProcess process_;
  int port_ = 0;
  bool tls_ = false;
  QJsonObject rules_;
};

// An Ed25519 key pair made for the test.
class SigningKey {
 public:
  SigningKey();
  ~SigningKey();
  SigningKey(const SigningKey&) = delete;
  SigningKey& operator=(const SigningKey&) = delete;
  QByteArray PublicPem() const;
  QByteArray Sign(const QByteArray& message) const;

 private:
  struct Key;
  std::unique_ptr<Key> key_;
};

struct ServedFile {
  QString serverPath;  // "/update/1.200/relictor"
  QByteArray data;
};

QByteArray Sha256Hex(const QByteArray& data);
// A description of `version` listing `files`, each with its SHA-256.
QByteArray DescriptionText(const QString& version, const QList<ServedFile>& files);
inline const QString kDescriptionPath = QStringLiteral("/update/relictor_update.ini");
inline const QString kSignaturePath = QStringLiteral("/update/relictor_update.ini.sig");
// Puts the description and its signature by `key` on the server.
void PublishDescription(TestServer& server, const SigningKey& key, const QByteArray& description);
// Puts the files, their description and its signature on the server.
void PublishRelease(TestServer& server, const SigningKey& key, const QString& version,
                    const QList<ServedFile>& files);

QByteArray ReadFile(const QString& path);
bool WriteFile(const QString& path, const QByteArray& data);
// The names in `folder`, hidden ones included, sorted.
QStringList FolderEntries(const QString& folder);

// A folder holding an installed `relictor` (version "1.100") and, beside
// it, the trusted public key.
class Installation {
 public:
  explicit Installation(const SigningKey& trusted, bool withRelictor = true);
  QString Folder() const { return dir_.path(); }
  QString KeyPath() const;
  QString File(const QString& name) const { return dir_.path() + QLatin1Char('/') + name; }

 private:
  QTemporaryDir dir_;
};

}  // namespace relictor::update::testing

// A Qt Test main() that prepares the environment first. APP is
// QCoreApplication or QApplication.
#define RELICTOR_UPDATE_TEST_MAIN(APP, TestClass)                 \
  int main(int argc, char** argv) {                               \
    relictor::update::testing::PrepareTestEnvironment();          \
    APP app(argc, argv);                                          \
    TestClass test;                                               \
    return QTest::qExec(&test, argc, argv);                       \
  }
