#include "update_test_support.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>

#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pem.h>

#include <cstdlib>

namespace relictor::update::testing {

void PrepareTestEnvironment() {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  // Folders that live as long as the test binary; the system removes what
  // is left in its temporary folder.
  static QTemporaryDir runtime;
  static QTemporaryDir config;
  qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path()));
  qputenv("XDG_CONFIG_HOME", QFile::encodeName(config.path()));
  for (const char* name : {"http_proxy", "https_proxy", "HTTP_PROXY", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"})
    qunsetenv(name);
}

QString FakeRelictorPath() { return QStringLiteral(RELICTOR_FAKE_RELICTOR); }
QString FakeRelictorNextPath() { return QStringLiteral(RELICTOR_FAKE_RELICTOR_NEXT); }
QString SourceDir() { return QStringLiteral(RELICTOR_SOURCE_DIR); }

TestServer::TestServer() = default;

TestServer::~TestServer() {
  if (process_.state() != QProcess::NotRunning) {
    process_.kill();
    process_.waitForFinished(5000);
  }
}

bool TestServer::Start(const QString& certificate, const QString& key) {
  process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
  QStringList arguments = {SourceDir() + QStringLiteral("/tests/update/update_server.py"), dir_.path()};
  tls_ = !certificate.isEmpty();
  if (tls_) arguments << certificate << key;
  process_.start(QStringLiteral("python3"), arguments);
  if (!process_.waitForStarted(10000)) return false;
  while (!process_.canReadLine()) {
    if (!process_.waitForReadyRead(10000)) return false;
  }
  port_ = process_.readLine().trimmed().toInt();
  return port_ > 0;
}

QUrl TestServer::Url() const {
  return QUrl(QStringLiteral("%1://127.0.0.1:%2").arg(tls_ ? QStringLiteral("https") : QStringLiteral("http")).arg(port_));
}

void TestServer::PutFile(const QString& path, const QByteArray& data) {
  QString local = dir_.path() + QStringLiteral("/files") + path;
  QDir().mkpath(QFileInfo(local).path());
  WriteFile(local, data);
}

void TestServer::RemoveFile(const QString& path) { QFile::remove(dir_.path() + QStringLiteral("/files") + path); }

void TestServer::SetRule(const QString& path, const QJsonObject& rule) {
  if (rule.isEmpty())
    rules_.remove(path);
  else
    rules_.insert(path, rule);
  WriteFile(dir_.path() + QStringLiteral("/rules.json"), QJsonDocument(rules_).toJson());
}

void TestServer::ClearRules() {
  rules_ = QJsonObject();
  WriteFile(dir_.path() + QStringLiteral("/rules.json"), QByteArray("{}"));
}

QStringList TestServer::Requests() const {
  return QString::fromUtf8(ReadFile(dir_.path() + QStringLiteral("/requests.log"))).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

void TestServer::ClearRequests() { QFile::remove(dir_.path() + QStringLiteral("/requests.log")); }

struct SigningKey::Key {
  EVP_PKEY* pkey = nullptr;
};

SigningKey::SigningKey() : key_(std::make_unique<Key>()) { key_->pkey = EVP_PKEY_Q_keygen(nullptr, nullptr, "ED25519"); }

SigningKey::~SigningKey() { EVP_PKEY_free(key_->pkey); }

QByteArray SigningKey::PublicPem() const {
  BIO* bio = BIO_new(BIO_s_mem());
  PEM_write_bio_PUBKEY(bio, key_->pkey);
  char* data = nullptr;
  long size = BIO_get_mem_data(bio, &data);
  QByteArray pem(data, static_cast<qsizetype>(size));
  BIO_free(bio);
  return pem;
}

QByteArray SigningKey::Sign(const QByteArray& message) const {
  EVP_MD_CTX* ctx = EVP_MD_CTX_new();
  QByteArray signature(64, '\0');
  size_t size = static_cast<size_t>(signature.size());
  EVP_DigestSignInit(ctx, nullptr, nullptr, nullptr, key_->pkey);
  EVP_DigestSign(ctx, reinterpret_cast<unsigned char*>(signature.data()), &size,
                 reinterpret_cast<const unsigned char*>(message.constData()), static_cast<size_t>(message.size()));
  EVP_MD_CTX_free(ctx);
  signature.resize(static_cast<qsizetype>(size));
  return signature;
}

QByteArray Sha256Hex(const QByteArray& data) { return QCryptographicHash::hash(data, QCryptographicHash::Sha256).toHex(); }

QByteArray DescriptionText(const QString& version, const QList<ServedFile>& files) {
  QByteArray text = "[Relictor]\r\nVERSION=" + version.toUtf8() + "\r\n";
  for (qsizetype i = 0; i < files.size(); ++i) {
    text += "FILE" + QByteArray::number(i) + "=" + files[i].serverPath.toUtf8() + "\r\n";
    text += "SHA256" + QByteArray::number(i) + "=" + Sha256Hex(files[i].data) + "\r\n";
  }
  return text;
}

void PublishDescription(TestServer& server, const SigningKey& key, const QByteArray& description) {
  server.PutFile(kDescriptionPath, description);
  server.PutFile(kSignaturePath, key.Sign(description));
}

void PublishRelease(TestServer& server, const SigningKey& key, const QString& version,
                    const QList<ServedFile>& files) {
  for (const ServedFile& f : files) server.PutFile(f.serverPath, f.data);
  PublishDescription(server, key, DescriptionText(version, files));
}

QByteArray ReadFile(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool WriteFile(const QString& path, const QByteArray& data) {
  QFile f(path);
  return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(data) == data.size();
}

QStringList FolderEntries(const QString& folder) {
  return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

Installation::Installation(const SigningKey& trusted, bool withRelictor) {
  if (withRelictor) {
    QFile::copy(FakeRelictorPath(), File(QStringLiteral("relictor")));
    QFile::setPermissions(File(QStringLiteral("relictor")), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                                                QFile::ReadGroup | QFile::ExeGroup | QFile::ReadOther |
                                                                QFile::ExeOther);
  }
  WriteFile(KeyPath(), trusted.PublicPem());
}

QString Installation::KeyPath() const { return File(QStringLiteral("relictor_update.pub")); }

}  // namespace relictor::update::testing
