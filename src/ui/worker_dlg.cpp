#include "ui/worker_dlg.h"

#include <QCoreApplication>
#include <QCloseEvent>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include <climits>
#include <string>

#include "worker/worker.h"

namespace relictor {

// The display the worker reports to. Every call stores the value under the
// lock and, unless an update is already on its way, posts one to the
// dialog; the dialog then shows whatever is latest.
class CWorkerDlg::QueuedSink final : public ProgressSink {
 public:
  QueuedSink(CWorkerDlg* dialog, JobKind kind) : dialog_(dialog), kind_(kind) {}

  bool HasText(ProgressText which) const override {
    switch (which) {
      case ProgressText::Status:
        return kind_ != JobKind::LoadMft;
      case ProgressText::Counter:
        return true;
      case ProgressText::CurrentItem:
        return kind_ == JobKind::Saving || kind_ == JobKind::LoadMft;
    }
    return false;
  }
  bool HasBar(ProgressBar which) const override { return which == ProgressBar::Overall || kind_ == JobKind::Saving; }

  void SetText(ProgressText which, const std::string& text) override {
    {
      std::lock_guard lock(mutex_);
      State::Text& t = state_.texts[static_cast<int>(which)];
      // Kept as bytes: the text becomes a QString on the interface
      // thread, so no string data is shared between the two threads.
      t.value = text;
      t.set = true;
    }
    Post();
  }
  void SetRange(ProgressBar which, std::uint64_t low, std::uint64_t high) override {
    {
      std::lock_guard lock(mutex_);
      State::Bar& b = state_.bars[static_cast<int>(which)];
      b.low = low, b.high = high, b.pos = low, b.set = true;
    }
    Post();
  }
  void SetPos(ProgressBar which, std::uint64_t pos) override {
    {
      std::lock_guard lock(mutex_);
      State::Bar& b = state_.bars[static_cast<int>(which)];
      b.pos = pos, b.set = true;
    }
    Post();
  }

  struct State {
    struct Text {
      std::string value;
      bool set = false;
    } texts[3];
    struct Bar {
      std::uint64_t low = 0, high = 0, pos = 0;
      bool set = false;
    } bars[2];
  };
  // Takes the values reported since the last call.
  State Take() {
    posted_.store(false, std::memory_order_release);
    std::lock_guard lock(mutex_);
    State s = state_;
    for (auto& t : state_.texts) t.set = false;
    for (auto& b : state_.bars) b.set = false;
    return s;
  }

 private:
  void Post() {
    if (posted_.exchange(true, std::memory_order_acq_rel)) return;
    // By name, without captures: the values themselves cross under the
    // lock and the posted flag.
    QMetaObject::invokeMethod(dialog_, "ApplyProgress", Qt::QueuedConnection);
  }

  CWorkerDlg* dialog_;
  JobKind kind_;
  std::mutex mutex_;
  State state_;
  std::atomic<bool> posted_{false};
};

namespace {

QLabel* Label(const QString& text, const char* name, QWidget* parent) {
  auto* l = new QLabel(text, parent);
  if (name) l->setObjectName(QString::fromLatin1(name));
  return l;
}

QProgressBar* Bar(const char* name, QWidget* parent) {
  auto* b = new QProgressBar(parent);
  b->setObjectName(QString::fromLatin1(name));
  b->setRange(0, 100);
  b->setValue(0);
  b->setTextVisible(false);
  return b;
}

QString DefaultTitle(JobKind kind) {
  switch (kind) {
    case JobKind::LoadMft:
      return QCoreApplication::translate("CWorkerDlg", "Scanning...");
    case JobKind::DeepScan:
      return QCoreApplication::translate("CWorkerDlg", "Find Lost Files...");
    case JobKind::LostVolumes:
      return QCoreApplication::translate("CWorkerDlg", "Find Lost Drivers...");
    case JobKind::Saving:
      return QCoreApplication::translate("CWorkerDlg", "File Saving...");
    case JobKind::Search:
      return QCoreApplication::translate("CWorkerDlg", "Search");
  }
  return {};
}

}  // namespace

CWorkerDlg::CWorkerDlg(const JobInfo& info, const QString& location, QWidget* parent)
    : QDialog(parent), kind_(info.kind), sink_(std::make_unique<QueuedSink>(this, info.kind)) {
  setObjectName(QStringLiteral("CWorkerDlg"));
  setModal(true);
  setWindowTitle(info.title.empty() ? DefaultTitle(kind_) : QString::fromStdString(info.title));
  auto* layout = new QVBoxLayout(this);
  status_ = Label({}, "status", this);
  counter_ = Label({}, "counter", this);
  overallBar_ = Bar("overallBar", this);
  cancel_ = new QPushButton(tr("Cancel"), this);
  cancel_->setObjectName(QStringLiteral("cancel"));
  auto* buttons = new QDialogButtonBox(this);
  if (kind_ == JobKind::Saving) {
    auto* group = new QGroupBox(tr("Save location"), this);
    auto* g = new QVBoxLayout(group);
    g->addWidget(Label(tr("Recovery your lost files to the location you set. "), nullptr, group));
    location_ = new QLineEdit(location, group);
    location_->setObjectName(QStringLiteral("location"));
    location_->setReadOnly(true);
    g->addWidget(location_);
    layout->addWidget(group);
    auto* row = new QHBoxLayout;
    row->addWidget(Label(tr("Current file:"), nullptr, this));
    item_ = Label({}, "currentItem", this);
    item_->setTextFormat(Qt::PlainText);
    item_->setMinimumWidth(260);
    row->addWidget(item_, 1);
    layout->addLayout(row);
    auto* line = new QHBoxLayout;
    line->addWidget(status_, 1);
    line->addWidget(counter_);
    layout->addLayout(line);
    fileBar_ = Bar("fileBar", this);
    layout->addWidget(fileBar_);
    layout->addWidget(overallBar_);
    ok_ = new QPushButton(tr("OK"), this);
    ok_->setObjectName(QStringLiteral("ok"));
    buttons->addButton(ok_, QDialogButtonBox::ActionRole);
    // Both buttons end the dialog: through a stop request while the worker
    // runs.
    connect(ok_, &QPushButton::clicked, this, &CWorkerDlg::reject);
  } else if (kind_ == JobKind::LoadMft) {
    layout->addWidget(Label(tr("Scan NTFS Volome"), nullptr, this));
    item_ = Label({}, "currentItem", this);
    item_->setTextFormat(Qt::PlainText);
    layout->addWidget(item_);
    auto* line = new QHBoxLayout;
    // The status line of this dialog is fixed.
    status_->setText(tr("Scanning..."));
    line->addWidget(status_, 1);
    line->addWidget(counter_);
    layout->addLayout(line);
    layout->addWidget(overallBar_);
  } else {
    layout->addWidget(Label(tr("Deep Scan for current disk"), nullptr, this));
    auto* line = new QHBoxLayout;
    line->addWidget(status_, 1);
    line->addWidget(counter_);
    layout->addLayout(line);
    layout->addWidget(overallBar_);
  }
  buttons->addButton(cancel_, QDialogButtonBox::RejectRole);
  connect(cancel_, &QPushButton::clicked, this, &CWorkerDlg::reject);
  layout->addWidget(buttons);
  setMinimumWidth(380);
}

CWorkerDlg::~CWorkerDlg() = default;

ProgressSink* CWorkerDlg::Sink() { return sink_.get(); }

void CWorkerDlg::SetBar(QProgressBar* bar, std::uint64_t low, std::uint64_t high, std::uint64_t pos) {
  if (!bar) return;
  // The bars take int; larger ranges are shown in coarser steps.
  std::uint64_t span = high > low ? high - low : 0;
  std::uint64_t at = pos > low ? std::min(pos - low, span) : 0;
  while (span > static_cast<std::uint64_t>(INT_MAX)) span >>= 1, at >>= 1;
  bar->setRange(0, static_cast<int>(span));
  bar->setValue(static_cast<int>(at));
}

void CWorkerDlg::ApplyProgress() {
  const QueuedSink::State s = sink_->Take();
  QLabel* texts[3] = {status_, counter_, item_};
  for (int i = 0; i < 3; ++i)
    if (s.texts[i].set && texts[i])
      texts[i]->setText(QString::fromUtf8(s.texts[i].value.data(), qsizetype(s.texts[i].value.size())));
  QProgressBar* bars[2] = {overallBar_, fileBar_};
  for (int i = 0; i < 2; ++i)
    if (s.bars[i].set) SetBar(bars[i], s.bars[i].low, s.bars[i].high, s.bars[i].pos);
}

void CWorkerDlg::WorkerDone() {
  ApplyProgress();
  done_ = true;
  QDialog::done(QDialog::Rejected);
}

void CWorkerDlg::reject() {
  if (done_) {
    QDialog::reject();
    return;
  }
  // The dialog stays until the worker has seen the request and ended.
  cancelled_ = true;
  cancel_->setEnabled(false);
  if (ok_) ok_->setEnabled(false);
  RequestStop();
}

QString CWorkerDlg::StatusText() const { return status_->text(); }
QString CWorkerDlg::CounterText() const { return counter_->text(); }
QString CWorkerDlg::CurrentItemText() const { return item_ ? item_->text() : QString(); }

}  // namespace relictor
