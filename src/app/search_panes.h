#pragma once
// The search panes: "Search" (the criteria and the one Search/Cancel
// button, a tab of the left dock) and "Search Result" (the finds, in the
// bottom dock). The search runs on the worker while the window stays live;
// each find is handed to the result pane with a blocking call, so rows
// arrive in the order and at the indices the walk gives them, and the
// worker waits while the window takes a row (see search_gate.h for how the
// window and the worker share the volume meanwhile).

#include <QDateTime>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <memory>

#include "app/folders_tree_dlg.h"
#include "search/search.h"

class QCheckBox;
class QComboBox;
class QDateTimeEdit;
class QLabel;
class QLineEdit;
class QPushButton;

namespace relictor {

class CEntryListCtrl;
class CSearchResultDlg;

class CSearchDlg final : public QWidget, public LookInBox {
  Q_OBJECT

 public:
  explicit CSearchDlg(QWidget* parent = nullptr);
  ~CSearchDlg() override;

  // Fills "Look in:" with one line per volume (its root folder's name) and
  // selects the first.
  void FillVolumes(const std::vector<CVolumeDriver*>& volumes);
  // A volume added later (found by the lost-volume search) gets its line
  // at its position among the volumes, before any folder line.
  void InsertVolume(int position, CVolumeDriver* volume);

  void SetResultPane(CSearchResultDlg* results) { results_ = results; }

  bool Searching() const { return searching_; }
  // The criteria as the controls hold them now (bounds that do not parse
  // keep their previous values).
  SearchCriteria Criteria();

  // LookInBox (the navigation pane keeps it in step with its selection).
  int Count() const override;
  void RemoveLast() override;
  void AppendFolder(const QString& text, CDirectory* folder) override;
  void Select(int index) override;

  // Whether a search is running on `volume` (any volume when null).
  bool IsSearching(const CVolumeDriver* volume) const;
  // Stops the running search and returns when its worker has ended.
  void StopSearch();

  QLineEdit* PatternEdit() const { return pattern_; }
  QComboBox* LookIn() const { return lookIn_; }
  QCheckBox* MatchCaseBox() const { return matchCase_; }
  QCheckBox* RecurseBox() const { return recurse_; }
  QCheckBox* SizeBox() const { return sizeFilter_; }
  QLineEdit* SizeLowEdit() const { return sizeLow_; }
  QLineEdit* SizeHighEdit() const { return sizeHigh_; }
  QCheckBox* DateBox() const { return dateFilter_; }
  QComboBox* DateKindBox() const { return dateKind_; }
  QDateTimeEdit* DateFromEdit() const { return dateFrom_; }
  QDateTimeEdit* DateToEdit() const { return dateTo_; }
  QPushButton* SearchButton() const { return button_; }

 signals:
  // The count of finds, for the status bar.
  void StatusTextChanged(const QString& text);
  // A search starts: the result pane should show.
  void ResultsWanted();

 protected:
  void resizeEvent(QResizeEvent* e) override;
  void showEvent(QShowEvent* e) override;

 private:
  class Job;
  void OnSearchClicked();
  void StartSearch();
  // The end of a search (handed over to the interface thread by the worker).
  void SearchDone(int generation, bool completed, std::uint32_t hits);
  void LayoutControls();
  bool ReadBound(QLineEdit* edit, std::uint64_t& bound);

  QLabel* lookInLabel_;
  QComboBox* lookIn_;
  QLabel* patternLabel_;
  QLineEdit* pattern_;
  QPushButton* button_;
  QCheckBox* matchCase_;
  QCheckBox* recurse_;
  QCheckBox* sizeFilter_;
  QLineEdit* sizeLow_;
  QLabel* andLabel_;
  QLineEdit* sizeHigh_;
  QCheckBox* dateFilter_;
  QComboBox* dateKind_;
  QLabel* fromLabel_;
  QDateTimeEdit* dateFrom_;
  QLabel* toLabel_;
  QDateTimeEdit* dateTo_;

  CSearchResultDlg* results_ = nullptr;
  std::unique_ptr<Job> job_;
  bool searching_ = false;
  int generation_ = 0;
  std::uint64_t lowBound_ = 0;
  std::uint64_t highBound_ = 0;
  int volumeLines_ = 0;  // lines of "Look in:" that are volumes
};

class CSearchResultDlg final : public QWidget {
  Q_OBJECT

 public:
  explicit CSearchResultDlg(QWidget* parent = nullptr);
  ~CSearchResultDlg() override;
  CEntryListCtrl* List() const { return list_; }
  // One find at row `index`, handed over by the worker while it waits,
  // with the entry's lazily read fields filled already.
  void AddRow(std::uint32_t index, CDirEntry* entry);
  void Clear();

 private:
  CEntryListCtrl* list_;
};

}  // namespace relictor
