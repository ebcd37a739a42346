#include "app/search_panes.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateTimeEdit>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QVBoxLayout>

#include "app/entry_list_ctrl.h"
#include "app/search_gate.h"
#include "ui/hand_over.h"
#include "ui/job_runner.h"
#include "volume/driver.h"
#include "worker/frontend.h"

namespace relictor {
namespace {

constexpr int kEntryRole = Qt::UserRole;

QVariant EntryData(CDirectory* folder) { return QVariant::fromValue(reinterpret_cast<quintptr>(folder)); }

CDirectory* FolderOf(const QComboBox* box, int index) {
  if (index < 0 || index >= box->count()) return nullptr;
  return reinterpret_cast<CDirectory*>(box->itemData(index, kEntryRole).value<quintptr>());
}

QString VolumeText(const CVolumeDriver& v) {
  return DisplayText(v.GetRoot() ? v.GetRoot()->name : v.GetDisplayName());
}

}  // namespace

// The search as background work: the whole walk in one step. It hands
// each find to the result pane and its end to the search pane, and lets
// the window take the volume over at each child.
class CSearchDlg::Job final : public WorkerTask, public SearchResultSink {
 public:
  Job(CSearchDlg& pane, CSearchResultDlg* results, CDirectory& root, SearchCriteria criteria, int generation)
      : WorkerTask(false), pane_(pane), results_(results), root_(root), criteria_(std::move(criteria)),
        generation_(generation) {}

  bool Step() override {
    stop_ = CurrentStopEvent();
    // A background read (a thumbnail) may hold the volumes as the search
    // starts: it waits for it.
    search_gate::Checkpoint(stop_.get());
    std::uint32_t hits = 0;
    const bool completed = Search(root_, criteria_, this, hits);
    // From here on the worker no longer touches the tree.
    search_gate::EndSearch();
    handOver_.Run([&] { pane_.SearchDone(generation_, completed, hits); });
    return true;
  }

  void AddResult(std::uint32_t index, CDirEntry* entry) override {
    if (results_ == nullptr) return;
    // The row's fields are filled here, where the worker owns the volume:
    // the window shows them without calling into it (a thumbnail may be
    // reading it meanwhile).
    if (entry) PrepareForDisplay(*entry);
    search_gate::WaitingForWindow waiting(stop_.get());
    handOver_.Run([&] { results_->AddRow(index, entry); });
  }

  void BeforeChild() override { search_gate::Checkpoint(stop_.get()); }

 private:
  CSearchDlg& pane_;
  CSearchResultDlg* results_;
  CDirectory& root_;
  SearchCriteria criteria_;
  int generation_;
  std::shared_ptr<StopEvent> stop_;
  HandOver handOver_;
};

// ---------------------------------------------------------------- search pane

CSearchDlg::CSearchDlg(QWidget* parent) : QWidget(parent) {
  setObjectName("Search");
  lookInLabel_ = new QLabel(tr("Look in:"), this);
  lookIn_ = new QComboBox(this);
  lookIn_->setObjectName("lookIn");
  patternLabel_ = new QLabel(tr("Search for:"), this);
  pattern_ = new QLineEdit(this);
  pattern_->setObjectName("pattern");
  button_ = new QPushButton(tr("Search"), this);
  button_->setObjectName("search");
  button_->setDefault(true);
  matchCase_ = new QCheckBox(tr("Match case"), this);
  matchCase_->setObjectName("matchCase");
  recurse_ = new QCheckBox(tr("Search recourse subdirectories"), this);
  recurse_->setObjectName("recurse");

  sizeFilter_ = new QCheckBox(tr("Size between (in KB) ..."), this);
  sizeFilter_->setObjectName("sizeFilter");
  auto* digits = new QRegularExpressionValidator(QRegularExpression("[0-9]{0,10}"), this);
  sizeLow_ = new QLineEdit("0", this);
  sizeLow_->setObjectName("sizeLow");
  sizeLow_->setValidator(digits);
  andLabel_ = new QLabel(tr("and"), this);
  sizeHigh_ = new QLineEdit("0", this);
  sizeHigh_->setObjectName("sizeHigh");
  sizeHigh_->setValidator(digits);
  sizeLow_->setEnabled(false);
  sizeHigh_->setEnabled(false);
  connect(sizeFilter_, &QCheckBox::toggled, this, [this](bool on) {
    sizeLow_->setEnabled(on);
    sizeHigh_->setEnabled(on);
  });

  dateFilter_ = new QCheckBox(tr("Specify Date"), this);
  dateFilter_->setObjectName("dateFilter");
  dateKind_ = new QComboBox(this);
  dateKind_->setObjectName("dateKind");
  dateKind_->addItem(tr("Create Date"), static_cast<int>(kDateCreated));
  dateKind_->addItem(tr("Modify Date"), static_cast<int>(kDateModified));
  dateKind_->model()->sort(0);
  dateKind_->setCurrentIndex(0);
  fromLabel_ = new QLabel(tr("From"), this);
  toLabel_ = new QLabel(tr("To"), this);
  // The pickers show the date alone; the search takes From from the start
  // of its day and To to the end of its day.
  const QDateTime now = QDateTime::fromSecsSinceEpoch(QDateTime::currentSecsSinceEpoch());
  const QString shortDate = QLocale().dateFormat(QLocale::ShortFormat);
  for (QDateTimeEdit** edit : {&dateFrom_, &dateTo_}) {
    *edit = new QDateTimeEdit(now, this);
    (*edit)->setDisplayFormat(shortDate);
    (*edit)->setCalendarPopup(true);
    (*edit)->setEnabled(false);
  }
  dateFrom_->setObjectName("dateFrom");
  dateTo_->setObjectName("dateTo");
  dateKind_->setEnabled(false);
  connect(dateFilter_, &QCheckBox::toggled, this, [this](bool on) {
    dateKind_->setEnabled(on);
    dateFrom_->setEnabled(on);
    dateTo_->setEnabled(on);
  });

  connect(button_, &QPushButton::clicked, this, &CSearchDlg::OnSearchClicked);
  connect(pattern_, &QLineEdit::returnPressed, this, [this] {
    if (!searching_) OnSearchClicked();
  });
  setMinimumSize(200, 330);
  LayoutControls();
}

CSearchDlg::~CSearchDlg() {
  // The worker refers to this pane: it ends (and its thread is joined)
  // before the pane goes.
  StopSearch();
}

void CSearchDlg::LayoutControls() {
  const int w = width();
  const int comboH = lookIn_->sizeHint().height();
  const QSize buttonSize = button_->sizeHint().expandedTo(QSize(75, 0));
  lookInLabel_->move(0, 2);
  lookInLabel_->resize(lookInLabel_->sizeHint());
  // The resize rule: "Look in:" spans the width at y 20; the button sits at
  // the right edge 25 pixels below the list; the pattern fills the row up
  // to 6 pixels left of the button, as tall as the button.
  lookIn_->setGeometry(0, 20, w, comboH);
  const int buttonTop = 20 + comboH + 25;
  button_->setGeometry(w - buttonSize.width(), buttonTop, buttonSize.width(), buttonSize.height());
  patternLabel_->move(0, buttonTop - patternLabel_->sizeHint().height() - 2);
  patternLabel_->resize(patternLabel_->sizeHint());
  pattern_->setGeometry(0, buttonTop, std::max(0, w - buttonSize.width() - 6), buttonSize.height());

  // The other controls keep their places below.
  int y = buttonTop + buttonSize.height() + 12;
  auto place = [](QWidget* c, int x, int top, int width = -1) {
    QSize s = c->sizeHint();
    c->setGeometry(x, top, width > 0 ? width : s.width(), s.height());
  };
  place(matchCase_, 0, y);
  place(recurse_, 0, y + 24);
  place(sizeFilter_, 0, y + 52);
  place(sizeLow_, 16, y + 76, 80);
  place(andLabel_, 102, y + 80);
  place(sizeHigh_, 130, y + 76, 80);
  place(dateFilter_, 0, y + 110);
  place(dateKind_, 16, y + 134, 140);
  place(fromLabel_, 16, y + 170);
  place(dateFrom_, 56, y + 166, 130);
  place(toLabel_, 16, y + 202);
  place(dateTo_, 56, y + 198, 130);
}

void CSearchDlg::resizeEvent(QResizeEvent* e) {
  QWidget::resizeEvent(e);
  LayoutControls();
}

void CSearchDlg::showEvent(QShowEvent* e) {
  QWidget::showEvent(e);
  pattern_->setFocus(Qt::OtherFocusReason);
}

void CSearchDlg::FillVolumes(const std::vector<CVolumeDriver*>& volumes) {
  lookIn_->clear();
  volumeLines_ = 0;
  // One line per volume, in the volumes' order, so that a volume's line
  // lies at its position among them (a volume that could not be opened
  // has a line that searches nothing).
  for (CVolumeDriver* v : volumes) {
    if (v == nullptr) continue;
    lookIn_->addItem(VolumeText(*v), EntryData(v->GetRoot()));
    ++volumeLines_;
  }
  if (lookIn_->count() > 0) lookIn_->setCurrentIndex(0);
}

void CSearchDlg::InsertVolume(int position, CVolumeDriver* volume) {
  if (volume == nullptr) return;
  position = std::clamp(position, 0, volumeLines_);
  const int selected = lookIn_->currentIndex();
  lookIn_->insertItem(position, VolumeText(*volume), EntryData(volume->GetRoot()));
  ++volumeLines_;
  if (selected < 0) {
    lookIn_->setCurrentIndex(0);
  } else if (selected >= position) {
    lookIn_->setCurrentIndex(selected + 1);
  }
}

int CSearchDlg::Count() const { return lookIn_->count(); }

void CSearchDlg::RemoveLast() {
  if (lookIn_->count() > volumeLines_) lookIn_->removeItem(lookIn_->count() - 1);
}

void CSearchDlg::AppendFolder(const QString& text, CDirectory* folder) {
  lookIn_->addItem(text, EntryData(folder));
  lookIn_->setCurrentIndex(lookIn_->count() - 1);
}

void CSearchDlg::Select(int index) {
  if (index >= 0 && index < lookIn_->count()) lookIn_->setCurrentIndex(index);
}

bool CSearchDlg::IsSearching(const CVolumeDriver* volume) const { return search_gate::IsSearching(volume); }

void CSearchDlg::StopSearch() {
  // A search stopped here ends as a cancelled one: no count is shown.
  ++generation_;
  searching_ = false;
  button_->setText(tr("Search"));
  StopWorker(&QtJobRunner::PumpEvents);
}

bool CSearchDlg::ReadBound(QLineEdit* edit, std::uint64_t& bound) {
  bool ok = false;
  const qulonglong value = edit->text().toULongLong(&ok);
  if (!ok || value > 0xFFFFFFFFull) {
    // The previous value stays and the search goes on with it.
    QMessageBox::warning(this, msgbox::kCaption, tr("Please enter an integer between 0 and 4294967295."));
    edit->setText(QString::number(bound));
    return false;
  }
  bound = value;
  return true;
}

SearchCriteria CSearchDlg::Criteria() {
  SearchCriteria c;
  c.pattern = pattern_->text().toStdString();
  if (c.pattern.empty()) c.pattern.assign(1, '*');
  c.matchCase = matchCase_->isChecked();
  c.recurse = recurse_->isChecked();
  c.sizeFilter = sizeFilter_->isChecked();
  ReadBound(sizeLow_, lowBound_);
  ReadBound(sizeHigh_, highBound_);
  // The bounds are whole KiB, as the label says, and count as inside;
  // both fit in 32 bits, so the byte counts cannot overflow.
  c.inclusive = true;
  c.sizeLow = lowBound_ * 1024;
  c.sizeHigh = highBound_ * 1024;
  c.dateFilter = dateFilter_->isChecked();
  c.dateKind = dateKind_->currentData().toInt() == static_cast<int>(kDateModified) ? kDateModified : kDateCreated;
  c.dateFrom = QDateTime(dateFrom_->date(), QTime(0, 0)).toSecsSinceEpoch();
  c.dateTo = QDateTime(dateTo_->date(), QTime(23, 59, 59)).toSecsSinceEpoch();
  return c;
}

void CSearchDlg::OnSearchClicked() {
  if (searching_) {
    // Cancel: the rows found so far stay.
    StopSearch();
    return;
  }
  StartSearch();
}

void CSearchDlg::StartSearch() {
  SearchCriteria criteria = Criteria();
  CDirectory* folder = FolderOf(lookIn_, lookIn_->currentIndex());
  if (folder == nullptr) return;  // no volume: nothing happens, no count
  if (results_) results_->Clear();
  emit ResultsWanted();
  // One worker at a time: whatever runs stops first.
  StopWorker(&QtJobRunner::PumpEvents);
  // Fields that lists show are read lazily; those of every folder read so
  // far are filled now, so that the window reads them while the worker
  // runs without calling into the volume.
  CDirectory* root = folder->volume && folder->volume->GetRoot() ? folder->volume->GetRoot() : folder;
  {
    SearchPause pause(folder->volume);
    PrepareLoadedTree(*root);
  }
  search_gate::BeginSearch(folder->volume);
  job_ = std::make_unique<Job>(*this, results_, *folder, std::move(criteria), ++generation_);
  if (!StartWorker(*job_, &QtJobRunner::PumpEvents)) {
    search_gate::EndSearch();
    return;
  }
  searching_ = true;
  button_->setText(tr("Cancel"));
}

void CSearchDlg::SearchDone(int generation, bool completed, std::uint32_t hits) {
  if (generation != generation_) return;  // cancelled, or an earlier search
  searching_ = false;
  button_->setText(tr("Search"));
  if (completed) emit StatusTextChanged(tr("Finded %1 Object(s)").arg(hits));
}

// ---------------------------------------------------------------- results

CSearchResultDlg::CSearchResultDlg(QWidget* parent) : QWidget(parent), list_(new CEntryListCtrl(true, this)) {
  setObjectName("SearchResult");
  list_->setObjectName("searchResultList");
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(list_);
}

CSearchResultDlg::~CSearchResultDlg() = default;

void CSearchResultDlg::AddRow(std::uint32_t index, CDirEntry* entry) {
  if (entry == nullptr) return;
  list_->InsertEntry(static_cast<int>(std::min<std::uint32_t>(index, INT32_MAX)), entry);
}

void CSearchResultDlg::Clear() { list_->Clear(); }

}  // namespace relictor
