#pragma once
// The "Properties" sheet of one entry (its "General" page shows the icon,
// name, type, status, location, sizes, times and attributes, and changes
// nothing), and the "Options" sheet with its "General" and "Language"
// pages, which copy the application's settings in and out.

#include <QDialog>
#include <QString>

#include <functional>

class QCheckBox;
class QComboBox;
class QDialogButtonBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTabWidget;

namespace relictor {

class CDirEntry;

// A sheet of pages with OK, Cancel, Apply and Help buttons. The OK button
// is hidden when the sheet is made without it.
class CFilePropertySheet : public QDialog {
  Q_OBJECT

 public:
  CFilePropertySheet(const QString& caption, bool showOkButton, QWidget* parent = nullptr);
  void AddPage(QWidget* page, const QString& caption);
  // Hides the Apply button for good (the Properties command does).
  void RemoveApplyButton();
  // Enables Apply (a page was changed) or disables it.
  void SetModified(bool modified);

  QTabWidget* Pages() const { return pages_; }
  QPushButton* OkButton() const { return ok_; }
  QPushButton* CancelButton() const { return cancel_; }
  QPushButton* ApplyButton() const { return apply_; }
  QPushButton* HelpButton() const { return help_; }

  // What Apply does; the sheet calls it with the active page.
  std::function<void(QWidget* activePage)> onApply;
  // The page of the help that Help opens ("index.html" when empty).
  QString helpPage;

 private:
  QTabWidget* pages_;
  QPushButton* ok_;
  QPushButton* cancel_;
  QPushButton* apply_;
  QPushButton* help_;
};

// "General" of the Properties sheet.
class CFilePropertyPage final : public QWidget {
  Q_OBJECT

 public:
  // `entry` is borrowed and must outlive the page.
  explicit CFilePropertyPage(CDirEntry* entry, QWidget* parent = nullptr);

  QLineEdit* Field(const char* name) const;
  QCheckBox* Attribute(const char* name) const;
  QLabel* IconLabel() const { return icon_; }

 private:
  CDirEntry* entry_;
  QLabel* icon_;
};

// Runs the Properties sheet of one entry modally.
void ShowProperties(CDirEntry* entry, QWidget* parent);

// The settings that the Options sheet changes, as the application holds
// them. SaveSettings writes them to the user's store.
class OptionsSettings {
 public:
  virtual ~OptionsSettings() = default;
  virtual char ReplaceChar() const = 0;
  virtual bool AutoUpdate() const = 0;
  virtual int Language() const = 0;
  virtual void SetReplaceChar(char c) = 0;
  virtual void SetAutoUpdate(bool on) = 0;
  virtual void SetLanguage(int index) = 0;
  virtual void SaveSettings() = 0;
};

// "General" of the Options sheet: the automatic update check and the
// character that stands for the lost first letter of a deleted name.
class COptionsGeneralPage final : public QWidget {
  Q_OBJECT

 public:
  explicit COptionsGeneralPage(OptionsSettings& settings, QWidget* parent = nullptr);
  // Copies the page into the settings: an empty character applies as '_'.
  void ApplyGeneral();
  bool Modified() const { return modified_; }
  void SetModified(bool modified) { modified_ = modified; }
  QCheckBox* AutoUpdateBox() const { return autoUpdate_; }
  QLineEdit* DeletedCharEdit() const { return deletedChar_; }

 signals:
  void Changed();

 private:
  OptionsSettings& settings_;
  QCheckBox* autoUpdate_;
  QLineEdit* deletedChar_;
  bool modified_ = false;
};

// "Language" of the Options sheet: one language, and the note that a
// change needs a restart.
class COptionsLangPage final : public QWidget {
  Q_OBJECT

 public:
  explicit COptionsLangPage(OptionsSettings& settings, QWidget* parent = nullptr);
  void ApplyLanguage();
  bool Modified() const { return modified_; }
  void SetModified(bool modified) { modified_ = modified; }
  QComboBox* LanguageBox() const { return languageBox_; }

 signals:
  void Changed();

 private:
  OptionsSettings& settings_;
  QComboBox* languageBox_;
  bool modified_ = false;
};

// Runs the Options sheet modally: OK applies both pages and saves; Apply
// applies the active page and saves; Cancel keeps what was applied before.
void ShowOptions(OptionsSettings& settings, QWidget* parent);

}  // namespace relictor
