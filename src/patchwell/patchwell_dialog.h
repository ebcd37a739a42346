#pragma once
// The dialog of the update manager `patchwell`: it shows the installed
// Relictor, asks the update server for a newer release and installs it.

#include <QDialog>
#include <QStringList>

#include <chrono>

#include "update/update_client.h"

class QLabel;
class QListWidget;
class QProgressBar;
class QPushButton;

namespace relictor::patchwell {

struct PatchwellOptions {
  update::UpdateClientOptions client;
  // How long a running `relictor` is given to end after being asked to.
  std::chrono::milliseconds closeWait{5000};
};

// True when the command line (the words after the program's name) is
// exactly one word "q", in either case: the automatic mode that the
// window's start-up check asks for. Only the first 128 characters count.
bool IsAutomaticMode(const QStringList& arguments);

class CPatchwellDlg : public QDialog, private update::DownloadObserver {
  Q_OBJECT

 public:
  CPatchwellDlg(PatchwellOptions options, bool automatic, QWidget* parent = nullptr);

  // Reads the installed version and, in automatic mode, checks for a newer
  // release at once, so that the dialog opens with the answer.
  void Initialise();

  update::CUpdateClient& Client() { return client_; }

 public slots:
  void reject() override;

 signals:
  // Every status text as it is shown.
  void statusChanged(const QString& text);

 private slots:
  void OnAction();
  void OnAbout();

 private:
  void Check();
  void RunUpdate();
  bool FolderIsWritable() const;
  void SetStatus(const QString& text);
  void Status(const QString& text) override { SetStatus(text); }
  void Progress(int percent) override;
  void Error(const QString& text) override;

  PatchwellOptions options_;
  bool automatic_;
  update::CUpdateClient client_;
  QListWidget* productList_ = nullptr;
  QLabel* statusText_ = nullptr;
  QProgressBar* progressBar_ = nullptr;
  QPushButton* actionButton_ = nullptr;
  QPushButton* cancelButton_ = nullptr;
  bool busy_ = false;
  bool closeRequested_ = false;
};

}  // namespace relictor::patchwell
