#include "patchwell/patchwell_dialog.h"

#include <QApplication>
#include <QFile>
#include <QFont>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QScrollArea>
#include <QStyle>
#include <QVBoxLayout>

#include <unistd.h>

#include "patchwell/running_relictor.h"

namespace relictor::patchwell {
namespace {

const QString kProduct = QStringLiteral("Relictor");

// The texts of the action button, which also tell its state.
QString NextText() { return CPatchwellDlg::tr("Next"); }
QString UpdateText() { return CPatchwellDlg::tr("Update(&U)"); }
QString CompleteText() { return CPatchwellDlg::tr("Complete(&O)"); }

// Shows the wait cursor for as long as it lives.
class WaitCursor {
 public:
  WaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
  ~WaitCursor() { QApplication::restoreOverrideCursor(); }
  WaitCursor(const WaitCursor&) = delete;
  WaitCursor& operator=(const WaitCursor&) = delete;
};

}  // namespace

bool IsAutomaticMode(const QStringList& arguments) {
  const QString line = arguments.join(QLatin1Char(' ')).left(128);
  const QStringList words = line.split(QRegularExpression(QStringLiteral("[ \t]+")), Qt::SkipEmptyParts);
  return words.size() == 1 && words.front().compare(QStringLiteral("q"), Qt::CaseInsensitive) == 0;
}

CPatchwellDlg::CPatchwellDlg(PatchwellOptions options, bool automatic, QWidget* parent)
    : QDialog(parent), options_(std::move(options)), automatic_(automatic), client_(options_.client) {
  setWindowTitle(tr("Kalvor Patchwell"));
  setWindowIcon(style()->standardIcon(QStyle::SP_BrowserReload));
  setObjectName(QStringLiteral("patchwell"));

  auto* title = new QLabel(tr("Kalvor Patchwell"));
  QFont big = title->font();
  big.setPointSizeF(big.pointSizeF() * 1.6);
  big.setBold(true);
  title->setFont(big);
  auto* thanks = new QLabel(tr("Thank you for using Kalvor Relictor"));
  auto* listLabel = new QLabel(tr("Follow product is installed in your system:"));
  productList_ = new QListWidget;
  productList_->setObjectName(QStringLiteral("productList"));
  productList_->setMaximumHeight(60);
  statusText_ = new QLabel(tr("Click 'Next' for availability updates"));
  statusText_->setObjectName(QStringLiteral("statusText"));
  statusText_->setWordWrap(true);
  statusText_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  statusText_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  // A failure's text (a path, a digest, the reason) can be longer than the
  // room the dialog has: it scrolls instead of being cut off.
  auto* statusArea = new QScrollArea;
  statusArea->setObjectName(QStringLiteral("statusArea"));
  statusArea->setWidget(statusText_);
  statusArea->setWidgetResizable(true);
  statusArea->setFrameShape(QFrame::NoFrame);
  statusArea->setFixedHeight(statusText_->fontMetrics().lineSpacing() * 4 + 4);
  progressBar_ = new QProgressBar;
  progressBar_->setObjectName(QStringLiteral("progressBar"));
  progressBar_->setRange(0, 100);
  progressBar_->setValue(0);

  auto* about = new QPushButton(tr("&About Patchwell..."));
  about->setObjectName(QStringLiteral("aboutButton"));
  about->setAutoDefault(false);
  actionButton_ = new QPushButton(NextText());
  actionButton_->setObjectName(QStringLiteral("actionButton"));
  actionButton_->setDefault(true);
  cancelButton_ = new QPushButton(tr("Cancel"));
  cancelButton_->setObjectName(QStringLiteral("cancelButton"));
  cancelButton_->setAutoDefault(false);

  auto* buttons = new QHBoxLayout;
  buttons->addWidget(about);
  buttons->addStretch();
  buttons->addWidget(actionButton_);
  buttons->addWidget(cancelButton_);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(title);
  layout->addWidget(thanks);
  layout->addSpacing(8);
  layout->addWidget(listLabel);
  layout->addWidget(productList_);
  layout->addWidget(statusArea);
  layout->addWidget(progressBar_);
  layout->addLayout(buttons);
  setMinimumWidth(460);

  connect(actionButton_, &QPushButton::clicked, this, &CPatchwellDlg::OnAction);
  connect(cancelButton_, &QPushButton::clicked, this, &CPatchwellDlg::reject);
  connect(about, &QPushButton::clicked, this, &CPatchwellDlg::OnAbout);
  client_.SetErrorReporter([this](const QString& text) {
    QMessageBox::warning(this, tr("Kalvor Patchwell"), text);
  });
}

void CPatchwellDlg::Initialise() {
  // The result is not looked at: a missing program leaves the version
  // empty, and an error about the server has already been shown.
  client_.Connect(true);
  if (client_.LocalVersion().isEmpty())
    actionButton_->setEnabled(false);
  else
    productList_->addItem(kProduct + QLatin1Char(' ') + client_.LocalVersion());
  if (automatic_) OnAction();
}

void CPatchwellDlg::SetStatus(const QString& text) {
  statusText_->setText(text);
  emit statusChanged(text);
}

void CPatchwellDlg::Progress(int percent) { progressBar_->setValue(percent); }

void CPatchwellDlg::Error(const QString& text) {
  QMessageBox::critical(this, tr("Kalvor Patchwell"), text);
}

void CPatchwellDlg::OnAbout() {
  QMessageBox box(QMessageBox::Information, tr("About Kalvor Patchwell"),
                  tr("Kalvor Patchwell Version 1.000"), QMessageBox::Ok, this);
  box.setObjectName(QStringLiteral("aboutBox"));
  box.exec();
}

void CPatchwellDlg::OnAction() {
  if (busy_) return;
  const QString state = actionButton_->text();
  if (state == CompleteText()) {
    accept();
    return;
  }
  // While the network or the files are busy the action cannot be started
  // again; Cancel stays usable and ends the work.
  busy_ = true;
  actionButton_->setEnabled(false);
  if (state == UpdateText())
    RunUpdate();
  else
    Check();
  busy_ = false;
  if (closeRequested_) QDialog::reject();
}

void CPatchwellDlg::Check() {
  SetStatus(tr("Connecting to server..."));
  if (!client_.RequestDescription(true)) {
    SetStatus(tr("Can't connect to server"));
    actionButton_->setText(NextText());
    actionButton_->setEnabled(!client_.LocalVersion().isEmpty());
    return;
  }
  SetStatus(tr("Read version infomation..."));
  const bool newer = client_.FetchAndCompare();
  if (client_.DescriptionVerification() != update::CUpdateClient::Verification::Verified) {
    // An unsigned or wrongly signed release is not offered at all.
    SetStatus(client_.LastError() + tr(" Nothing will be installed."));
    actionButton_->setEnabled(false);
    return;
  }
  if (!newer) {
    SetStatus(tr("Your version is the last version"));
    actionButton_->setEnabled(false);
    return;
  }
  if (!FolderIsWritable()) {
    SetStatus(tr("Relictor %1 is available, but %2 is installed for all users and the system's package "
                     "manager updates it.")
                  .arg(client_.RemoteVersion(), client_.WorkingFolder()));
    actionButton_->setEnabled(false);
    return;
  }
  SetStatus(tr("Finded new version: ") + kProduct + QLatin1Char(' ') + client_.RemoteVersion());
  actionButton_->setText(UpdateText());
  actionButton_->setEnabled(true);
}

bool CPatchwellDlg::FolderIsWritable() const {
  return ::access(QFile::encodeName(client_.WorkingFolder()).constData(), W_OK | X_OK) == 0;
}

void CPatchwellDlg::RunUpdate() {
  WaitCursor wait;
  const std::vector<pid_t> running = FindRunningRelictor(client_.WorkingFolder());
  if (!running.empty()) {
    QMessageBox::StandardButton answer =
        QMessageBox::question(this, tr("Kalvor Patchwell"), kProduct + tr(" is running! Close it?"),
                              QMessageBox::Ok | QMessageBox::Cancel, QMessageBox::Ok);
    if (answer != QMessageBox::Ok) {
      actionButton_->setEnabled(true);
      return;
    }
    // A program that has not ended yet keeps running its old files, which
    // a rename leaves intact; its folder is updated either way.
    EndPrograms(running, options_.closeWait);
  }
  progressBar_->setValue(0);
  bool ok = true;
  for (const update::ReleaseFile& file : client_.Description().files) {
    if (closeRequested_ || !client_.DownloadFile(file, *this)) {
      ok = false;
      break;
    }
  }
  if (ok) ok = client_.InstallDownloaded(*this);
  client_.DiscardDownloaded();
  actionButton_->setText(CompleteText());
  actionButton_->setEnabled(true);
  if (!ok) {
    // The bar must not suggest a finished download, and whatever the last
    // message was, the user learns that the installation is unchanged.
    progressBar_->setValue(0);
    const QString nothing = QStringLiteral("Nothing was installed.");
    if (!statusText_->text().contains(nothing.chopped(1)))
      SetStatus(statusText_->text() + QLatin1Char('\n') + nothing);
    return;
  }
  delete productList_->takeItem(0);
  productList_->addItem(kProduct + QLatin1Char(' ') + client_.RemoteVersion());
  SetStatus(tr("Update completed"));
}

void CPatchwellDlg::reject() {
  if (busy_) {
    // The running request ends at once; the dialog closes when the work
    // has unwound, with nothing half-installed.
    closeRequested_ = true;
    client_.Abort();
    return;
  }
  QDialog::reject();
}

}  // namespace relictor::patchwell
