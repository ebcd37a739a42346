#include "app/cluster_range_dlg.h"

#include <QApplication>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QThread>
#include <QVBoxLayout>

#include <climits>

#include "scan/deep_scan.h"
#include "ui/xmessagebox.h"

namespace relictor {
namespace {

// Cluster numbers go up to 4294967295; a double holds them exactly, so
// the spin boxes count in whole doubles without decimals.
QDoubleSpinBox* ClusterEdit(const char* name, std::uint64_t minimum, std::uint64_t maximum, QWidget* parent) {
  auto* e = new QDoubleSpinBox(parent);
  e->setObjectName(QString::fromLatin1(name));
  e->setDecimals(0);
  e->setGroupSeparatorShown(false);
  e->setRange(static_cast<double>(minimum), static_cast<double>(maximum));
  e->setKeyboardTracking(true);
  e->setMinimumWidth(120);
  return e;
}

std::uint64_t ValueOf(const QDoubleSpinBox* e) { return static_cast<std::uint64_t>(e->value()); }

}  // namespace

CClusterRangeDlg::CClusterRangeDlg(std::uint64_t minimum, std::uint64_t maximum, std::uint32_t bytesPerCluster,
                                   QWidget* parent, bool offerAllClusters)
    : QDialog(parent), minimum_(minimum), maximum_(std::max(minimum, maximum)), bytesPerCluster_(bytesPerCluster) {
  setObjectName(QStringLiteral("CClusterRangeDlg"));
  setWindowTitle(tr("Select cluster range"));
  // Sliders count in int; a longer range moves in steps of a power of two.
  while (((maximum_ - minimum_) >> shift_) > static_cast<std::uint64_t>(INT_MAX)) ++shift_;

  auto* layout = new QVBoxLayout(this);
  auto* group = new QGroupBox(tr("Select Scan Cluster Range"), this);
  auto* grid = new QGridLayout(group);
  start_ = ClusterEdit("startEdit", minimum_, maximum_, group);
  end_ = ClusterEdit("endEdit", minimum_, maximum_, group);
  startSlider_ = new QSlider(Qt::Horizontal, group);
  startSlider_->setObjectName(QStringLiteral("startSlider"));
  endSlider_ = new QSlider(Qt::Horizontal, group);
  endSlider_->setObjectName(QStringLiteral("endSlider"));
  for (QSlider* s : {startSlider_, endSlider_}) {
    s->setRange(0, SliderPos(maximum_));
    s->setMinimumWidth(220);
  }
  grid->addWidget(new QLabel(tr("Start Cluster:"), group), 0, 0);
  grid->addWidget(start_, 0, 1);
  grid->addWidget(startSlider_, 0, 2);
  grid->addWidget(new QLabel(tr(" End Cluster:"), group), 1, 0);
  grid->addWidget(end_, 1, 1);
  grid->addWidget(endSlider_, 1, 2);
  grid->addWidget(new QLabel(tr("Cluster to scan:"), group), 2, 0);
  summary_ = new QLabel(group);
  summary_->setObjectName(QStringLiteral("summary"));
  grid->addWidget(summary_, 2, 1, 1, 2);
  layout->addWidget(group);
  if (offerAllClusters) {
    allClusters_ = new QCheckBox(tr("Also scan clusters used by existing files"), this);
    allClusters_->setObjectName(QStringLiteral("allClusters"));
    layout->addWidget(allClusters_);
  }
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  layout->addWidget(buttons);
  connect(buttons, &QDialogButtonBox::accepted, this, &CClusterRangeDlg::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &CClusterRangeDlg::reject);

  start_->setValue(static_cast<double>(minimum_));
  end_->setValue(static_cast<double>(maximum_));
  startSlider_->setValue(SliderPos(minimum_));
  endSlider_->setValue(SliderPos(maximum_));
  connect(start_, &QDoubleSpinBox::valueChanged, this, [this] { OnEditChanged(true); });
  connect(end_, &QDoubleSpinBox::valueChanged, this, [this] { OnEditChanged(false); });
  connect(startSlider_, &QSlider::valueChanged, this, [this] { OnSliderMoved(true); });
  connect(endSlider_, &QSlider::valueChanged, this, [this] { OnSliderMoved(false); });
  RefreshSummary();
}

int CClusterRangeDlg::SliderPos(std::uint64_t value) const {
  value = std::clamp(value, minimum_, maximum_);
  return static_cast<int>((value - minimum_) >> shift_);
}

std::uint64_t CClusterRangeDlg::SliderValue(int pos) const {
  if (pos <= 0) return minimum_;
  const std::uint64_t v = minimum_ + (static_cast<std::uint64_t>(pos) << shift_);
  // The last step of a coarse slider reaches the very end.
  return pos >= SliderPos(maximum_) ? maximum_ : std::min(v, maximum_);
}

std::uint64_t CClusterRangeDlg::Start() const { return ValueOf(start_); }
std::uint64_t CClusterRangeDlg::End() const { return ValueOf(end_); }
QString CClusterRangeDlg::SummaryText() const { return summary_->text(); }
bool CClusterRangeDlg::AllClusters() const { return allClusters_ && allClusters_->isChecked(); }

void CClusterRangeDlg::OnEditChanged(bool start) {
  QSlider* slider = start ? startSlider_ : endSlider_;
  const QSignalBlocker block(slider);
  slider->setValue(SliderPos(start ? Start() : End()));
  RefreshSummary();
}

void CClusterRangeDlg::OnSliderMoved(bool start) {
  QDoubleSpinBox* edit = start ? start_ : end_;
  QSlider* slider = start ? startSlider_ : endSlider_;
  const QSignalBlocker block(edit);
  edit->setValue(static_cast<double>(SliderValue(slider->value())));
  RefreshSummary();
}

void CClusterRangeDlg::RefreshSummary() {
  summary_->setText(QString::fromStdString(ClusterRangeSummary(Start(), End(), bytesPerCluster_)));
}

void CClusterRangeDlg::accept() {
  const std::string refusal = CheckClusterRange(Start(), End());
  if (!refusal.empty()) {
    XMessageBox(this, QString::fromStdString(refusal), QString::fromLatin1(msgbox::kCaption), msgbox::kNotice);
    return;
  }
  QDialog::accept();
}

bool QtClusterRangeChooser::Choose(std::uint64_t minimum, std::uint64_t maximum, std::uint32_t bytesPerCluster,
                                   std::uint64_t& start, std::uint64_t& end) {
  return Ask(minimum, maximum, bytesPerCluster, start, end, nullptr);
}

bool QtClusterRangeChooser::ChooseScan(std::uint64_t minimum, std::uint64_t maximum, std::uint32_t bytesPerCluster,
                                       std::uint64_t& start, std::uint64_t& end, bool& allClusters) {
  allClusters = false;
  return Ask(minimum, maximum, bytesPerCluster, start, end, &allClusters);
}

bool QtClusterRangeChooser::Ask(std::uint64_t minimum, std::uint64_t maximum, std::uint32_t bytesPerCluster,
                                std::uint64_t& start, std::uint64_t& end, bool* allClusters) {
  bool chosen = false, all = false;
  std::uint64_t s = minimum, e = maximum;
  QPointer<QWidget> parent = parent_;
  const bool ran = call_->Run([&] {
    QWidget* owner = parent ? parent.data() : QApplication::activeModalWidget();
    if (!owner) owner = QApplication::activeWindow();
    CClusterRangeDlg dialog(minimum, maximum, bytesPerCluster, owner, allClusters != nullptr);
    if (dialog.exec() == QDialog::Accepted) {
      s = dialog.Start();
      e = dialog.End();
      all = dialog.AllClusters();
      chosen = true;
    }
  });
  if (!ran || !chosen) return false;
  start = s;
  end = e;
  if (allClusters) *allClusters = all;
  return true;
}

}  // namespace relictor
