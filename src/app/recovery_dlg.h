#pragma once
// Recovering a selection: the "Files Recovery" dialog asks for the output
// folder, then the saving runs on the worker behind "File Saving...", with
// the overwrite questions asked in the window.

#include <QDialog>

#include <vector>

#include "recovery/recovery.h"

class QSettings;

namespace relictor {

class CHistoryCombo;
class QtJobRunner;

class CRecoveryDlg : public QDialog {
  Q_OBJECT

 public:
  // The output-folder history is kept in `settings` (group "Settings",
  // keys "HistoryCombo", "HistoryCombo0", ...).
  explicit CRecoveryDlg(QSettings& settings, QWidget* parent = nullptr);

  // The chosen folder, with a final "/", once the dialog ended with Save.
  QString OutputFolder() const { return outputFolder_; }
  CHistoryCombo* Combo() const { return combo_; }

 public slots:
  void Browse();
  void accept() override;

 private:
  QSettings& settings_;
  CHistoryCombo* combo_;
  QString outputFolder_;
};

// Saves `selection` into `outputFolder` behind "File Saving..." on
// `runner`; existing names are asked about in the window. The report tells
// what was saved, skipped or stopped.
SavingReport SaveEntries(const std::vector<CDirEntry*>& selection, const QString& outputFolder, QtJobRunner& runner,
                         QWidget* owner = nullptr);

// Creates `folder` with every missing parent. False with one sentence in
// `problem` when it cannot be made (or something else stands there).
bool MakeOutputFolder(const QString& folder, QString* problem);

// What the summary at the end of a saving says: how many files were saved
// to which folder, then those saved short, skipped, cut off or never
// started; `details` gets one line per such file.
QString SavingSummaryText(const SavingReport& report, const QString& folder, QString* details = nullptr);
// Shows the summary ("SavingSummary") over `parent`, with a button that
// opens the folder in the desktop's file manager.
void ShowSavingSummary(const SavingReport& report, const QString& folder, QWidget* parent);

// The Recover command: "Files Recovery", the output folder made with its
// parents, then the saving and its summary. False when the user cancelled
// the first dialog.
bool RecoverEntries(const std::vector<CDirEntry*>& selection, QSettings& settings, QtJobRunner& runner,
                    QWidget* parent = nullptr, SavingReport* report = nullptr);

}  // namespace relictor
