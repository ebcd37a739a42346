#include "update/update_client.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkProxyFactory>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>

#include "update/product_version.h"
#include "update/release_signature.h"

#ifndef RELICTOR_UPDATE_SERVER
#define RELICTOR_UPDATE_SERVER "http://update.kalvor.invalid"
#endif

namespace relictor::update {
namespace {

constexpr qint64 kBlockSize = 2048;
constexpr qint64 kMaxSignatureSize = 4096;
constexpr qint64 kMaxKeyFileSize = 16 * 1024;

QString FromStd(const std::string& s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())); }

QByteArray Native(const QString& path) { return QFile::encodeName(path); }

QString ErrnoText(int error) { return QString::fromLocal8Bit(std::strerror(error)); }

QString Seconds(std::chrono::milliseconds ms) {
  return QString::number(static_cast<double>(ms.count()) / 1000.0, 'g', 3);
}

bool WriteAll(int fd, const char* data, qint64 size) {
  while (size > 0) {
    ssize_t n = ::write(fd, data, static_cast<size_t>(size));
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += n;
    size -= n;
  }
  return true;
}

// The permissions of a file new in a release: programs and scripts can be
// run, anything else is only readable.
mode_t NewFileMode(const QString& path) {
  QFile f(path);
  if (!f.open(QIODevice::ReadOnly)) return 0644;
  QByteArray head = f.read(4);
  return (head.startsWith("\x7F" "ELF") || head.startsWith("#!")) ? 0755 : 0644;
}

void SyncFolder(const QString& folder) {
  int fd = ::open(Native(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd >= 0) {
    ::fsync(fd);
    ::close(fd);
  }
}

}  // namespace

CUpdateClient::CUpdateClient(UpdateClientOptions options) : options_(std::move(options)) {}

CUpdateClient::~CUpdateClient() {
  Abort();
  DiscardDownloaded();
  connection_.reset();
}

void CUpdateClient::Fail(const QString& text, bool report) {
  lastError_ = text;
  // A request the user ended needs no message box about it.
  if (report && reportError_ && !aborted_) reportError_(text);
}

QString CUpdateClient::DescriptionPath() const {
  return temporaryFolder_.isEmpty() ? QString() : temporaryFolder_ + QString::fromLatin1(kDescriptionFileName);
}

bool CUpdateClient::Connect(bool reportErrors) {
  // The description is stored in a folder of this process's own making,
  // readable by the user alone, never under a fixed name in the shared
  // temporary folder where another user could have put a file or a link.
  if (!privateTemp_) {
    ClearStaleUpdateFolders(QDir::tempPath());
    // The process number in the name tells a later run whose folder it is.
    privateTemp_ = std::make_unique<QTemporaryDir>(
        QDir::tempPath() + QStringLiteral("/relictor-update-%1-XXXXXX").arg(static_cast<qint64>(::getpid())));
    if (privateTemp_->isValid()) temporaryFolder_ = privateTemp_->path() + QLatin1Char('/');
  }
  QString folder = options_.workingFolder.isEmpty() ? QDir::currentPath() : options_.workingFolder;
  workingFolder_ = QDir(folder).absolutePath() + QLatin1Char('/');

  localVersion_ = FromStd(ProductVersionOfFile(Native(workingFolder_ + QString::fromLatin1(kRelictorProgramName)).toStdString()));
  if (localVersion_.isEmpty()) {
    lastError_ = QStringLiteral("No installed Relictor with a version was found in %1.").arg(QDir::toNativeSeparators(folder));
    return false;
  }
  if (!options_.server.isValid() || options_.server.host().isEmpty() ||
      (options_.server.scheme() != QLatin1String("http") && options_.server.scheme() != QLatin1String("https"))) {
    connection_.reset();
    Fail(QStringLiteral("The update server address \"%1\" is not an http:// or https:// address.")
             .arg(options_.server.toString()),
         reportErrors);
    return false;
  }
  if (!connection_) {
    // The system's proxy settings apply, as for any other program of the user.
    QNetworkProxyFactory::setUseSystemConfiguration(true);
    connection_ = std::make_unique<QNetworkAccessManager>();
    connection_->setRedirectPolicy(QNetworkRequest::ManualRedirectPolicy);
  }
  return true;
}

QUrl CUpdateClient::ObjectUrl(const QString& objectPath) const {
  QUrl url = options_.server;
  QString prefix = url.path();
  while (prefix.endsWith(QLatin1Char('/'))) prefix.chop(1);
  url.setPath(prefix + objectPath, QUrl::TolerantMode);
  url.setQuery(QString());
  url.setFragment(QString());
  return url;
}

void CUpdateClient::Abort() {
  aborted_ = true;
  if (running_) running_->abort();
}

bool CUpdateClient::Get(const QString& objectPath, qint64 maxSize, std::chrono::milliseconds deadline, const Sink& sink,
                        int& httpStatus, QString& error) {
  httpStatus = 0;
  if (!connection_) {
    error = QStringLiteral("There is no connection to the update server.");
    return false;
  }
  const QUrl url = ObjectUrl(objectPath);
  QNetworkRequest request(url);
  request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
  request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
  request.setHeader(QNetworkRequest::UserAgentHeader, QCoreApplication::applicationName());
  request.setTransferTimeout(static_cast<int>(options_.transferTimeout.count()));

  aborted_ = false;
  QNetworkReply* reply = connection_->get(request);
  running_ = reply;
  QEventLoop loop;
  QTimer overall;
  overall.setSingleShot(true);
  bool timedOut = false;
  bool statusChecked = false;
  bool sinkFailed = false;
  qint64 received = 0;
  qint64 contentLength = -1;

  // Looks at the status once the headers are there. Anything but a 2xx
  // reply ends the request before its body can be taken for the file.
  auto checkStatus = [&]() {
    if (statusChecked) return true;
    QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (!status.isValid()) return true;  // no headers yet
    statusChecked = true;
    httpStatus = status.toInt();
    if (httpStatus < 200 || httpStatus > 299) {
      QString reason = reply->attribute(QNetworkRequest::HttpReasonPhraseAttribute).toString();
      error = QStringLiteral("The update server answered %1 %2 for %3.").arg(httpStatus).arg(reason, url.toString());
      sinkFailed = true;
      reply->abort();
      return false;
    }
    QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
    if (length.isValid()) contentLength = length.toLongLong();
    if (contentLength > maxSize) {
      error = QStringLiteral("%1 is larger than the %2 bytes accepted.").arg(url.toString()).arg(maxSize);
      sinkFailed = true;
      reply->abort();
      return false;
    }
    return true;
  };
  auto readBody = [&]() {
    if (sinkFailed || !checkStatus()) return;
    char block[kBlockSize];
    while (!sinkFailed) {
      qint64 n = reply->read(block, kBlockSize);
      if (n <= 0) break;
      received += n;
      if (received > maxSize || (contentLength >= 0 && received > contentLength)) {
        error = received > maxSize ? QStringLiteral("%1 is larger than the %2 bytes accepted.").arg(url.toString()).arg(maxSize)
                                   : QStringLiteral("%1 is longer than the server said.").arg(url.toString());
        sinkFailed = true;
        reply->abort();
        return;
      }
      if (!sink(block, n, contentLength, error)) {
        sinkFailed = true;
        reply->abort();
        return;
      }
    }
  };
  QObject::connect(reply, &QNetworkReply::metaDataChanged, &loop, [&]() { checkStatus(); });
  QObject::connect(reply, &QNetworkReply::readyRead, &loop, readBody);
  QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
  if (deadline.count() > 0) {
    QObject::connect(&overall, &QTimer::timeout, &loop, [&]() {
      timedOut = true;
      reply->abort();
    });
    overall.start(deadline);
  }
  // User input stays on, so that the dialog's Cancel can abort a download.
  if (!reply->isFinished()) loop.exec();
  // Whatever arrived with the end of the reply.
  if (reply->error() == QNetworkReply::NoError) readBody();
  overall.stop();
  running_ = nullptr;

  bool ok = false;
  if (sinkFailed) {
    // `error` already tells why.
  } else if (aborted_) {
    error = QStringLiteral("The download was cancelled.");
  } else if (timedOut) {
    error = QStringLiteral("The update server did not answer within %1 seconds.").arg(Seconds(deadline));
  } else if (reply->error() == QNetworkReply::OperationCanceledError) {
    error = QStringLiteral("The update server sent nothing for %1 seconds.").arg(Seconds(options_.transferTimeout));
  } else if (reply->error() != QNetworkReply::NoError) {
    // The network library's own text, with the address it is about.
    error = QStringLiteral("%1: %2").arg(url.toString(), reply->errorString());
  } else if (!checkStatus()) {
    // A reply without headers cannot happen without an error; kept for safety.
  } else if (httpStatus == 0) {
    error = QStringLiteral("The update server sent no HTTP reply for %1.").arg(url.toString());
  } else if (contentLength >= 0 && received != contentLength) {
    error = QStringLiteral("%1 ended after %2 of %3 bytes.").arg(url.toString()).arg(received).arg(contentLength);
  } else {
    ok = true;
  }
  // Deleted now, not by a later event loop of the caller's.
  delete reply;
  return ok;
}

bool CUpdateClient::RequestDescription(bool reportErrors) {
  haveDescription_ = false;
  verification_ = Verification::NotChecked;
  descriptionBytes_.clear();
  signatureBytes_.clear();
  if (!connection_) {
    lastError_ = QStringLiteral("There is no connection to the update server.");
    return false;
  }
  const auto started = std::chrono::steady_clock::now();
  auto remaining = [&]() {
    auto spent = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started);
    return std::max(std::chrono::milliseconds(1), options_.descriptionTimeout - spent);
  };
  QByteArray body;
  auto collect = [&body](const char* data, qint64 size, qint64, QString&) {
    body.append(data, static_cast<qsizetype>(size));
    return true;
  };
  int status = 0;
  QString error;
  if (!Get(QString::fromLatin1(kDescriptionObjectPath), static_cast<qint64>(kMaxDescriptionSize), remaining(), collect,
           status, error)) {
    Fail(error, reportErrors);
    return false;
  }
  descriptionBytes_ = body;
  body.clear();
  // The signature lies beside the description. Without it the description
  // arrives but cannot be verified, which FetchAndCompare reports.
  if (Get(QString::fromLatin1(kDescriptionObjectPath) + QStringLiteral(".sig"), kMaxSignatureSize, remaining(), collect,
          status, error))
    signatureBytes_ = body;
  haveDescription_ = true;
  return true;
}

bool CUpdateClient::FetchAndCompare() {
  if (!haveDescription_) return false;
  haveDescription_ = false;
  description_ = UpdateDescription{};
  remoteVersion_.clear();
  verification_ = Verification::Unverified;

  // The local copy, for the user to look at; what is checked and read below
  // is the copy in memory, so nothing can change it in between.
  if (!temporaryFolder_.isEmpty()) {
    QFile copy(DescriptionPath());
    if (copy.open(QIODevice::WriteOnly | QIODevice::Truncate)) copy.write(descriptionBytes_);
  }

  QByteArray key;
  QFile keyFile(options_.trustedKeyPath);
  if (options_.trustedKeyPath.isEmpty() || !keyFile.open(QIODevice::ReadOnly)) {
    lastError_ = QStringLiteral("The update cannot be verified: there is no trusted key (%1).")
                     .arg(QDir::toNativeSeparators(options_.trustedKeyPath));
    return false;
  }
  key = keyFile.read(kMaxKeyFileSize);
  auto bytes = [](const QByteArray& a) {
    return std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(a.constData()), static_cast<std::size_t>(a.size()));
  };
  if (signatureBytes_.isEmpty()) {
    lastError_ = QStringLiteral("The update cannot be verified: the server has no signature for it.");
    return false;
  }
  if (!VerifyEd25519(bytes(key), bytes(descriptionBytes_), bytes(signatureBytes_))) {
    lastError_ = QStringLiteral("The update cannot be verified: its signature is not valid for the trusted key.");
    return false;
  }
  UpdateDescription parsed;
  std::string error;
  if (!ParseUpdateDescription(bytes(descriptionBytes_), parsed, error)) {
    lastError_ = QStringLiteral("The update is not valid: %1").arg(FromStd(error));
    return false;
  }
  verification_ = Verification::Verified;
  description_ = std::move(parsed);
  remoteVersion_ = FromStd(description_.version);
  return IsNewerVersion(description_.version, localVersion_.toStdString());
}

bool CUpdateClient::DownloadFile(const ReleaseFile& file, DownloadObserver& dialog) {
  const QString path = FromStd(file.path);
  const QString finalPath = workingFolder_ + FromStd(file.name);
  const QString stagedPath = finalPath + QStringLiteral(".upg");
  dialog.Status(QStringLiteral("Downloading file: ") + path);
  if (workingFolder_.isEmpty() || !connection_) {
    dialog.Status(QStringLiteral("There is no connection to the update server."));
    return false;
  }

  // A leftover of an earlier run, or a link someone put there, is removed
  // and the file made anew, so the download never writes through a link.
  const QByteArray staged = Native(stagedPath);
  ::unlink(staged.constData());
  int fd = ::open(staged.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) {
    QString text = QStringLiteral("Write file ") + finalPath + QStringLiteral(" error! \n File is using now, close it first");
    lastError_ = text;
    dialog.Error(text);
    return false;
  }

  Sha256 digest;
  qint64 received = 0;
  auto write = [&](const char* data, qint64 size, qint64 contentLength, QString& error) {
    received += size;
    if (contentLength > 0) dialog.Progress(static_cast<int>(std::min<qint64>(100, received * 100 / contentLength)));
    digest.Add(std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(data), static_cast<std::size_t>(size)));
    if (!WriteAll(fd, data, size)) {
      error = QStringLiteral("Write file %1 error: %2").arg(stagedPath, ErrnoText(errno));
      return false;
    }
    return true;
  };
  int status = 0;
  QString error;
  bool ok = Get(path, options_.maxFileSize, std::chrono::milliseconds(0), write, status, error);
  if (ok && ::fsync(fd) != 0) {
    error = QStringLiteral("Write file %1 error: %2").arg(stagedPath, ErrnoText(errno));
    ok = false;
  }
  if (::close(fd) != 0 && ok) {
    error = QStringLiteral("Write file %1 error: %2").arg(stagedPath, ErrnoText(errno));
    ok = false;
  }
  std::array<std::uint8_t, 32> sha{};
  if (!ok) {
    if (error.endsWith(QLatin1Char('.'))) error.chop(1);
    error = QStringLiteral("Can't download %1 (%2). Nothing was installed.").arg(path, error);
  } else if (!digest.Finish(sha) || sha != file.sha256) {
    error = QStringLiteral("%1 is damaged: its SHA-256 is %2, the release says %3. Nothing was installed.")
                .arg(path, FromStd(HexText(sha)), FromStd(HexText(file.sha256)));
    ok = false;
  }
  if (!ok) {
    ::unlink(staged.constData());
    lastError_ = status == 404 ? path + QStringLiteral(" isn't exist") : error;
    dialog.Status(lastError_);
    return false;
  }
  staged_.push_back({FromStd(file.name), stagedPath, finalPath});
  return true;
}

bool CUpdateClient::InstallDownloaded(DownloadObserver& dialog) {
  // The old files are kept as hard links in a private folder beside them
  // until every new file is in place, so that a failure half-way can put
  // each one back. The folder lies in the working folder because a rename
  // only works within one file system.
  QByteArray backupTemplate = Native(workingFolder_ + QStringLiteral(".patchwell-XXXXXX"));
  if (::mkdtemp(backupTemplate.data()) == nullptr) {
    lastError_ = QStringLiteral("Nothing was installed: %1 cannot be written (%2).").arg(workingFolder_, ErrnoText(errno));
    dialog.Status(lastError_);
    DiscardDownloaded();
    return false;
  }
  const QString backupFolder = QFile::decodeName(backupTemplate) + QLatin1Char('/');
  struct Step {
    bool hadOld = false;
    bool renamed = false;
  };
  std::vector<Step> steps(staged_.size());
  QString failure;

  for (std::size_t i = 0; i < staged_.size() && failure.isEmpty(); ++i) {
    const Staged& s = staged_[i];
    const QByteArray target = Native(s.finalPath);
    struct stat old {};
    if (::lstat(target.constData(), &old) == 0) {
      if (::link(target.constData(), Native(backupFolder + s.name).constData()) != 0) {
        failure = QStringLiteral("%1 cannot be replaced (%2).").arg(s.finalPath, ErrnoText(errno));
        break;
      }
      steps[i].hadOld = true;
      // The new file keeps the old one's permissions, but never a set-user
      // or set-group bit, which a downloaded file must not inherit.
      if (S_ISREG(old.st_mode)) ::chmod(Native(s.stagedPath).constData(), old.st_mode & 0777);
    } else {
      ::chmod(Native(s.stagedPath).constData(), NewFileMode(s.stagedPath));
    }
  }
  for (std::size_t i = 0; i < staged_.size() && failure.isEmpty(); ++i) {
    const Staged& s = staged_[i];
    if (::rename(Native(s.stagedPath).constData(), Native(s.finalPath).constData()) != 0) {
      failure = QStringLiteral("%1 cannot be replaced (%2).").arg(s.finalPath, ErrnoText(errno));
      break;
    }
    steps[i].renamed = true;
  }
  if (!failure.isEmpty()) {
    for (std::size_t i = 0; i < staged_.size(); ++i) {
      const Staged& s = staged_[i];
      if (!steps[i].renamed) continue;
      if (steps[i].hadOld)
        ::rename(Native(backupFolder + s.name).constData(), Native(s.finalPath).constData());
      else
        ::unlink(Native(s.finalPath).constData());
    }
  }
  for (std::size_t i = 0; i < staged_.size(); ++i) {
    if (steps[i].hadOld) ::unlink(Native(backupFolder + staged_[i].name).constData());
  }
  ::rmdir(backupTemplate.constData());
  if (!failure.isEmpty()) {
    DiscardDownloaded();
    lastError_ = QStringLiteral("Nothing was installed: ") + failure;
    dialog.Status(lastError_);
    return false;
  }
  SyncFolder(workingFolder_);
  for (const Staged& s : staged_) {
    for (const ReleaseFile& f : description_.files) {
      if (FromStd(f.name) == s.name) dialog.Status(FromStd(f.path) + QStringLiteral(" update completed"));
    }
  }
  staged_.clear();
  return true;
}

void CUpdateClient::DiscardDownloaded() {
  for (const Staged& s : staged_) ::unlink(Native(s.stagedPath).constData());
  staged_.clear();
}

void ClearStaleUpdateFolders(const QString& temporaryRoot) {
  const QDir root(temporaryRoot);
  const QStringList names = root.entryList({QStringLiteral("relictor-update-*")}, QDir::Dirs | QDir::Hidden | QDir::NoSymLinks);
  for (const QString& name : names) {
    // Only folders of the form relictor-update-PID-XXXXXX: older names
    // carry no process number and are left alone.
    const QStringList parts = name.split(QLatin1Char('-'));
    if (parts.size() != 4) continue;
    bool isNumber = false;
    const qint64 pid = parts[2].toLongLong(&isNumber);
    if (!isNumber || pid <= 0 || pid > std::numeric_limits<pid_t>::max()) continue;
    // A process that still runs (or that belongs to someone else and so
    // cannot be asked) keeps its folder.
    if (::kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH) continue;
    const QString path = root.absoluteFilePath(name);
    struct stat st {};
    if (::lstat(Native(path).constData(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::getuid()) continue;
    QDir(path).removeRecursively();
  }
}

QUrl ParseServerAddress(const QString& text) {
  QString t = text.trimmed();
  if (t.isEmpty()) return {};
  if (!t.contains(QStringLiteral("://"))) t = QStringLiteral("http://") + t;
  QUrl url(t, QUrl::StrictMode);
  if (!url.isValid() || url.host().isEmpty()) return {};
  if (url.scheme() != QLatin1String("http") && url.scheme() != QLatin1String("https")) return {};
  if (!url.userInfo().isEmpty() || url.hasQuery() || url.hasFragment()) return {};
  if (url.port() == -1) url.setPort(url.scheme() == QLatin1String("https") ? 443 : 80);
  return url;
}

QUrl ConfiguredUpdateServer() {
  QSettings settings(QStringLiteral("Kalvor"), QStringLiteral("Kalvor Relictor"));
  settings.beginGroup(QStringLiteral("Settings"));
  QString configured = settings.value(QStringLiteral("UpdateServer")).toString();
  if (!configured.trimmed().isEmpty()) return ParseServerAddress(configured);
  return ParseServerAddress(QStringLiteral(RELICTOR_UPDATE_SERVER));
}

QString InstalledTrustedKeyPath() {
  return QDir(QCoreApplication::applicationDirPath()).absoluteFilePath(QString::fromLatin1(kTrustedKeyFileName));
}

bool NewerReleaseAtStartup(const StartupCheckOptions& options, const QString& workingFolder) {
  if (!options.autoUpdate) return false;
  UpdateClientOptions clientOptions;
  clientOptions.server = options.server;
  clientOptions.trustedKeyPath = options.trustedKeyPath;
  clientOptions.workingFolder = workingFolder;
  clientOptions.transferTimeout = options.timeout;
  clientOptions.descriptionTimeout = options.timeout;
  CUpdateClient client(clientOptions);
  return client.Connect(false) && client.RequestDescription(false) && client.FetchAndCompare();
}

}  // namespace relictor::update
