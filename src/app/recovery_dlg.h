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

// The Recover command: "Files Recovery", then, when it ends with Save,
// the saving. False when the user cancelled the first dialog.
bool RecoverEntries(const std::vector<CDirEntry*>& selection, QSettings& settings, QtJobRunner& runner,
                    QWidget* parent = nullptr, SavingReport* report = nullptr);

}  // namespace relictor
