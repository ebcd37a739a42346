#pragma once
// The update client shared by `relictor` (the start-up check) and
// `patchwell` (the update manager).
//
// It reads the installed version from the `relictor` program in the working
// folder, fetches the update description and its signature from the update
// server, accepts the description only when a trusted key signed it, and
// downloads release files whose SHA-256 the description lists. A release is
// installed whole or not at all: every file is downloaded and checked first,
// and only then does each replace the old one by a rename.
//
// All calls are synchronous: each runs a local event loop until its reply
// has arrived or failed, bounded by time-outs, so a window stays painted
// meanwhile but the caller's code continues only afterwards.

#include <QByteArray>
#include <QPointer>
#include <QString>
#include <QUrl>

#include <chrono>
#include <functional>
#include <memory>
#include <vector>

#include "update/update_description.h"

class QNetworkAccessManager;
class QNetworkReply;
class QTemporaryDir;

namespace relictor::update {

// The object path of the update description on the server (the doubled
// slashes are how the server has always been asked).
inline constexpr char kDescriptionObjectPath[] = "//update//relictor_update.ini";
inline constexpr char kDescriptionFileName[] = "relictor_update.ini";
// The program whose version is compared, looked for in the working folder.
inline constexpr char kRelictorProgramName[] = "relictor";

struct UpdateClientOptions {
  // The update server: "http://host[:port][/prefix]" or "https://...".
  QUrl server;
  // The public key file that release descriptions must be signed with.
  QString trustedKeyPath;
  // The folder holding `relictor`; empty means the current directory.
  QString workingFolder;
  // A request that sends or receives nothing for this long fails; this
  // also bounds the wait for a connection.
  std::chrono::milliseconds transferTimeout{15000};
  // The description and its signature together must arrive within this,
  // so that a server that trickles bytes without end cannot hold the check.
  std::chrono::milliseconds descriptionTimeout{30000};
  // The largest release file accepted.
  qint64 maxFileSize = qint64{512} * 1024 * 1024;
};

// What a download reports to its dialog.
class DownloadObserver {
 public:
  virtual ~DownloadObserver() = default;
  virtual void Status(const QString& text) = 0;
  // Percent of the current file, 0 to 100; only called when the server
  // gave the file's length.
  virtual void Progress(int percent) = 0;
  // A failure that the user must acknowledge (a message box).
  virtual void Error(const QString& text) = 0;
};

class CUpdateClient {
 public:
  enum class Verification { NotChecked, Verified, Unverified };

  explicit CUpdateClient(UpdateClientOptions options);
  ~CUpdateClient();
  CUpdateClient(const CUpdateClient&) = delete;
  CUpdateClient& operator=(const CUpdateClient&) = delete;

  // Shows the text of an error when a call is asked to report errors.
  // Without one, reported errors are only kept in LastError().
  void SetErrorReporter(std::function<void(const QString&)> reporter) { reportError_ = std::move(reporter); }

  // Stores the folders, reads the installed version and prepares the
  // connection to the update server. False when there is no readable
  // `relictor` in the working folder (nothing is reported then) or the
  // server address is not usable (reported when `reportErrors`).
  bool Connect(bool reportErrors);
  // Fetches the update description and its signature. False when there is
  // no connection, or the description cannot be fetched: a network error,
  // a time-out, a reply other than 2xx, or a description above the size
  // bound (reported when `reportErrors`). A missing signature is not an
  // error here; FetchAndCompare then finds the description unverified.
  bool RequestDescription(bool reportErrors);
  // Stores the description in the private temporary folder, checks its
  // signature, reads it and compares its version with the installed one.
  // True only for a verified, well-formed description of a greater version.
  bool FetchAndCompare();
  // Downloads one release file to its name + ".upg" in the working folder
  // and checks its SHA-256. On failure nothing of the file is left.
  bool DownloadFile(const ReleaseFile& file, DownloadObserver& dialog);
  // Puts every downloaded file in place of the old one (or installs it,
  // when it is new). Either every file is installed or, on a failure,
  // every old file is back and every downloaded one is removed.
  bool InstallDownloaded(DownloadObserver& dialog);
  // Removes the files downloaded but not installed.
  void DiscardDownloaded();
  // Ends the running request at once (the user closed the dialog).
  void Abort();

  const QString& TemporaryFolder() const { return temporaryFolder_; }
  const QString& WorkingFolder() const { return workingFolder_; }
  const QString& LocalVersion() const { return localVersion_; }
  const QString& RemoteVersion() const { return remoteVersion_; }
  QString DescriptionPath() const;
  Verification DescriptionVerification() const { return verification_; }
  // The release of a verified description (empty before).
  const UpdateDescription& Description() const { return description_; }
  // One sentence on the last failure.
  const QString& LastError() const { return lastError_; }

 private:
  struct Transfer;
  using Sink = std::function<bool(const char* data, qint64 size, qint64 contentLength, QString& error)>;
  // Fetches `objectPath` from the server into `sink`. Only a 2xx reply's
  // body reaches the sink. `httpStatus` receives the reply's status (0 when
  // none arrived).
  bool Get(const QString& objectPath, qint64 maxSize, std::chrono::milliseconds deadline, const Sink& sink,
           int& httpStatus, QString& error);
  QUrl ObjectUrl(const QString& objectPath) const;
  void Fail(const QString& text, bool report);

  UpdateClientOptions options_;
  std::function<void(const QString&)> reportError_;
  std::unique_ptr<QNetworkAccessManager> connection_;
  QPointer<QNetworkReply> running_;
  bool aborted_ = false;
  std::unique_ptr<QTemporaryDir> privateTemp_;
  QString temporaryFolder_;
  QString workingFolder_;
  QString localVersion_;
  QString remoteVersion_;
  QByteArray descriptionBytes_;
  QByteArray signatureBytes_;
  bool haveDescription_ = false;
  Verification verification_ = Verification::NotChecked;
  UpdateDescription description_;
  struct Staged {
    QString name;
    QString stagedPath;
    QString finalPath;
  };
  std::vector<Staged> staged_;
  QString lastError_;
};

// The update server the programs use: the setting "UpdateServer" (group
// "Settings" of the user's settings) when it is not empty, else the server
// the build was configured with.
QUrl ConfiguredUpdateServer();
// An address as a user may write it ("host", "host:8080",
// "http://host/mirror", "https://host") as a URL; empty when unusable.
QUrl ParseServerAddress(const QString& text);
// Removes the private folders (relictor-update-PID-XXXXXX under
// `temporaryRoot`) that earlier runs of this user left behind when they
// were killed; folders of running processes stay.
void ClearStaleUpdateFolders(const QString& temporaryRoot);
// The trusted key installed beside the running program.
QString InstalledTrustedKeyPath();

struct StartupCheckOptions {
  bool autoUpdate = false;
  QUrl server;
  QString trustedKeyPath;
  // Short, because the window waits for the check before it appears.
  std::chrono::milliseconds timeout{4000};
};

// The start-up check of `relictor`: true when the server offers a verified
// release newer than the `relictor` in `workingFolder`. Silent on every
// failure. With autoUpdate off it returns false without any network access.
bool NewerReleaseAtStartup(const StartupCheckOptions& options, const QString& workingFolder);

}  // namespace relictor::update
