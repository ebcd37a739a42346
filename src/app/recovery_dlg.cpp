#include "app/recovery_dlg.h"

#include <QDialogButtonBox>
#include <QFileDialog>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QSettings>
#include <QStyle>

#include "recovery/output_device.h"
#include "ui/history_combo.h"
#include "ui/job_runner.h"
#include "ui/prompter.h"
#include "ui/xmessagebox.h"

namespace relictor {
namespace {

const QString kGroup = QStringLiteral("Settings");
const QString kKey = QStringLiteral("HistoryCombo");

QString WithFinalSlash(QString path) {
  if (!path.endsWith(u'/')) path += u'/';
  return path;
}

}  // namespace

CRecoveryDlg::CRecoveryDlg(QSettings& settings, QWidget* parent) : QDialog(parent), settings_(settings) {
  setObjectName(QStringLiteral("CRecoveryDlg"));
  setWindowTitle(QStringLiteral("Files Recovery"));
  auto* grid = new QGridLayout(this);
  auto* icon = new QLabel(this);
  icon->setPixmap(style()->standardIcon(QStyle::SP_DriveHDIcon).pixmap(32, 32));
  grid->addWidget(icon, 0, 0, 2, 1, Qt::AlignTop);
  grid->addWidget(new QLabel(QStringLiteral("Output folder:"), this), 0, 1, 1, 2);
  combo_ = new CHistoryCombo(this);
  combo_->setObjectName(QStringLiteral("outputFolder"));
  combo_->setMinimumWidth(300);
  grid->addWidget(combo_, 1, 1);
  auto* browse = new QPushButton(QStringLiteral("Browse..."), this);
  browse->setObjectName(QStringLiteral("browse"));
  browse->setAutoDefault(false);
  grid->addWidget(browse, 1, 2);
  auto* notice = new QLabel(QStringLiteral("Notice: It is recommended to save the lost/deleted data on another drive! "
                                           "Otherwise other lost/deleted data could be overwritten."),
                            this);
  notice->setWordWrap(true);
  grid->addWidget(notice, 2, 1, 1, 2);
  auto* buttons = new QDialogButtonBox(this);
  QPushButton* save = buttons->addButton(QStringLiteral("Save"), QDialogButtonBox::AcceptRole);
  save->setObjectName(QStringLiteral("save"));
  save->setDefault(true);
  QPushButton* cancel = buttons->addButton(QStringLiteral("Cancel"), QDialogButtonBox::RejectRole);
  cancel->setObjectName(QStringLiteral("cancel"));
  grid->addWidget(buttons, 3, 0, 1, 3);
  connect(browse, &QPushButton::clicked, this, &CRecoveryDlg::Browse);
  connect(buttons, &QDialogButtonBox::accepted, this, &CRecoveryDlg::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &CRecoveryDlg::reject);
  combo_->LoadHistory(settings_, kGroup, kKey);
}

void CRecoveryDlg::Browse() {
  // The desktop's own chooser cannot be driven by the tests and looks
  // different on every desktop; Qt's is the same everywhere.
  QFileDialog chooser(this, QStringLiteral("Select folder"), combo_->currentText());
  chooser.setObjectName(QStringLiteral("selectFolder"));
  chooser.setFileMode(QFileDialog::Directory);
  chooser.setOption(QFileDialog::ShowDirsOnly, true);
  chooser.setOption(QFileDialog::DontUseNativeDialog, true);
  if (chooser.exec() != QDialog::Accepted) return;
  const QStringList picked = chooser.selectedFiles();
  if (picked.isEmpty() || picked.front().isEmpty()) return;
  combo_->AddToHistory(WithFinalSlash(picked.front()));
}

void CRecoveryDlg::accept() {
  const QString text = combo_->currentText().trimmed();
  if (text.isEmpty()) {
    // An empty folder would put the files wherever the program happens to
    // run; the user chooses one instead.
    XMessageBox(this, QStringLiteral("Please choose the folder to save the files in."),
                QString::fromLatin1(msgbox::kCaption), msgbox::kNotice);
    return;
  }
  combo_->AddToHistory(text);
  combo_->SaveHistory(settings_, kGroup, kKey);
  settings_.sync();
  outputFolder_ = WithFinalSlash(text);
  QDialog::accept();
}

SavingReport SaveEntries(const std::vector<CDirEntry*>& selection, const QString& outputFolder, QtJobRunner& runner,
                         QWidget* owner) {
  QtPrompter prompter(owner);
  SavingTask task(selection, outputFolder.toStdString(), &prompter);
  runner.Run(task, task.Info(), outputFolder);
  SavingReport report = task.Report();
  if (!task.Ran()) report.outcome = SavingOutcome::Stopped;
  return report;
}

bool RecoverEntries(const std::vector<CDirEntry*>& selection, QSettings& settings, QtJobRunner& runner,
                    QWidget* parent, SavingReport* report) {
  CRecoveryDlg dialog(settings, parent);
  if (dialog.exec() != QDialog::Accepted) return false;
  std::string why;
  if (FolderLiesOnSelectionSource(selection, dialog.OutputFolder().toStdString(), why)) {
    QString text = QString::fromStdString(why) + u'.';
    text[0] = text[0].toUpper();
    XMessageBox(parent, text, QString::fromLatin1(msgbox::kCaption), msgbox::kNotice);
    return false;
  }
  SavingReport r = SaveEntries(selection, dialog.OutputFolder(), runner, nullptr);
  if (report) *report = std::move(r);
  return true;
}

}  // namespace relictor
