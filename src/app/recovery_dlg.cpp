#include "app/recovery_dlg.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QGridLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QSettings>
#include <QStyle>
#include <QUrl>

#include <filesystem>
#include <system_error>

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

// The folder as a sentence names it: without the final "/" (but "/"
// itself stays).
QString Shown(QString folder) {
  while (folder.size() > 1 && folder.endsWith(u'/')) folder.chop(1);
  return folder;
}

QString Files(std::size_t n) { return n == 1 ? QStringLiteral("1 file") : QStringLiteral("%1 files").arg(n); }

bool HasControlCharacters(const QString& text) {
  for (QChar c : text) {
    if (c.category() == QChar::Other_Control) return true;
  }
  return false;
}

}  // namespace

CRecoveryDlg::CRecoveryDlg(QSettings& settings, QWidget* parent) : QDialog(parent), settings_(settings) {
  setObjectName(QStringLiteral("CRecoveryDlg"));
  setWindowTitle(tr("Files Recovery"));
  auto* grid = new QGridLayout(this);
  auto* icon = new QLabel(this);
  icon->setPixmap(style()->standardIcon(QStyle::SP_DriveHDIcon).pixmap(32, 32));
  grid->addWidget(icon, 0, 0, 2, 1, Qt::AlignTop);
  grid->addWidget(new QLabel(tr("Output folder:"), this), 0, 1, 1, 2);
  combo_ = new CHistoryCombo(this);
  combo_->setObjectName(QStringLiteral("outputFolder"));
  combo_->setMinimumWidth(300);
  grid->addWidget(combo_, 1, 1);
  auto* browse = new QPushButton(tr("Browse..."), this);
  browse->setObjectName(QStringLiteral("browse"));
  browse->setAutoDefault(false);
  grid->addWidget(browse, 1, 2);
  auto* notice = new QLabel(tr("Notice: It is recommended to save the lost/deleted data on another drive! "
                                           "Otherwise other lost/deleted data could be overwritten."),
                            this);
  notice->setWordWrap(true);
  grid->addWidget(notice, 2, 1, 1, 2);
  auto* buttons = new QDialogButtonBox(this);
  QPushButton* save = buttons->addButton(tr("Save"), QDialogButtonBox::AcceptRole);
  save->setObjectName(QStringLiteral("save"));
  save->setDefault(true);
  QPushButton* cancel = buttons->addButton(tr("Cancel"), QDialogButtonBox::RejectRole);
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
  QFileDialog chooser(this, tr("Select folder"), combo_->currentText());
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
    XMessageBox(this, tr("Please choose the folder to save the files in."),
                QString::fromLatin1(msgbox::kCaption), msgbox::kNotice);
    return;
  }
  if (HasControlCharacters(text)) {
    // Such a name is nearly always a paste gone wrong, and no file manager
    // would show the folder it made in a way the user could find again.
    XMessageBox(this, tr("The output folder name contains control characters. Please choose another folder."),
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

bool MakeOutputFolder(const QString& folder, QString* problem) {
  const std::filesystem::path path(folder.toStdString());
  std::error_code ec;
  std::filesystem::create_directories(path, ec);
  QString why;
  if (ec) {
    why = QString::fromStdString(ec.message());
  } else if (!std::filesystem::is_directory(path, ec)) {
    why = QCoreApplication::translate("RecoverEntries", "something that is not a folder is in the way");
  } else {
    return true;
  }
  if (problem) *problem = QCoreApplication::translate("RecoverEntries", "The output folder %1 cannot be created: %2.").arg(Shown(folder), why);
  return false;
}

QString SavingSummaryText(const SavingReport& report, const QString& folder, QString* details) {
  const std::size_t shorts = report.ShortCount();
  const std::size_t whole = report.saved.size() - shorts;
  const QString where = Shown(folder);
  QStringList lines;
  switch (report.outcome) {
    case SavingOutcome::Finished:
      lines << (whole == 0 && shorts == 0 ? QStringLiteral("No file was saved to %1.").arg(where)
                                          : QCoreApplication::translate("RecoverEntries", "%1 saved to %2.").arg(Files(whole), where));
      break;
    case SavingOutcome::Stopped:
      lines << QCoreApplication::translate("RecoverEntries", "Saving was cancelled. %1 had been saved to %2 before it.").arg(Files(whole), where);
      break;
    case SavingOutcome::Failed:
      lines << QCoreApplication::translate("RecoverEntries", "Saving stopped at an error: %1").arg(QString::fromStdString(report.failure))
            << QCoreApplication::translate("RecoverEntries", "%1 had been saved to %2 before it.").arg(Files(whole), where);
      break;
  }
  if (shorts > 0) lines << QCoreApplication::translate("RecoverEntries", "%1 saved short: parts of them could not be read.").arg(Files(shorts));
  if (!report.skipped.empty()) lines << QCoreApplication::translate("RecoverEntries", "%1 skipped.").arg(report.skipped.size());
  if (!report.incomplete.empty()) {
    lines << QCoreApplication::translate("RecoverEntries", "%1 left incomplete and removed.").arg(Files(report.incomplete.size()));
  }
  if (report.outcome != SavingOutcome::Finished && report.NotStarted() > 0) {
    lines << QCoreApplication::translate("RecoverEntries", "%1 not started.").arg(Files(report.NotStarted()));
  }
  if (details) {
    QStringList more;
    for (const SavedFile& f : report.saved) {
      for (const std::string& p : f.problems) {
        more << QCoreApplication::translate("RecoverEntries", "Saved short: %1: %2").arg(QString::fromStdString(f.outputPath), QString::fromStdString(p));
      }
    }
    for (const SkippedEntry& e : report.skipped) {
      more << QCoreApplication::translate("RecoverEntries", "Skipped: %1: %2").arg(QString::fromStdString(e.outputPath), QString::fromStdString(e.reason));
    }
    for (const SkippedEntry& e : report.incomplete) {
      more << QCoreApplication::translate("RecoverEntries", "Incomplete: %1: %2").arg(QString::fromStdString(e.outputPath), QString::fromStdString(e.reason));
    }
    *details = more.join(u'\n');
  }
  return lines.join(u'\n');
}

void ShowSavingSummary(const SavingReport& report, const QString& folder, QWidget* parent) {
  QString details;
  const QString text = SavingSummaryText(report, folder, &details);
  const bool clean = report.outcome == SavingOutcome::Finished && details.isEmpty();
  QMessageBox box(clean ? QMessageBox::Information : QMessageBox::Warning, QString::fromLatin1(msgbox::kCaption), text,
                  QMessageBox::Ok, parent);
  box.setObjectName(QStringLiteral("SavingSummary"));
  if (!details.isEmpty()) box.setDetailedText(details);
  QPushButton* open = box.addButton(QCoreApplication::translate("RecoverEntries", "Open Folder"), QMessageBox::ActionRole);
  open->setObjectName(QStringLiteral("openFolder"));
  box.setDefaultButton(QMessageBox::Ok);
  box.exec();
  if (box.clickedButton() == open) QDesktopServices::openUrl(QUrl::fromLocalFile(Shown(folder)));
}

bool RecoverEntries(const std::vector<CDirEntry*>& selection, QSettings& settings, QtJobRunner& runner,
                    QWidget* parent, SavingReport* report) {
  CRecoveryDlg dialog(settings, parent);
  // A folder on the volume being read is refused before anything is made
  // there; one that cannot be made brings the dialog back for another
  // choice.
  for (;;) {
    if (dialog.exec() != QDialog::Accepted) return false;
    std::string why;
    if (FolderLiesOnSelectionSource(selection, dialog.OutputFolder().toStdString(), why)) {
      QString text = QString::fromStdString(why) + u'.';
      text[0] = text[0].toUpper();
      XMessageBox(parent, text, QString::fromLatin1(msgbox::kCaption), msgbox::kNotice);
      return false;
    }
    QString problem;
    if (MakeOutputFolder(dialog.OutputFolder(), &problem)) break;
    XMessageBox(parent, problem, QString::fromLatin1(msgbox::kCaption), msgbox::kNotice);
  }
  SavingReport r = SaveEntries(selection, dialog.OutputFolder(), runner, nullptr);
  ShowSavingSummary(r, dialog.OutputFolder(), parent);
  if (report) *report = std::move(r);
  return true;
}

}  // namespace relictor
