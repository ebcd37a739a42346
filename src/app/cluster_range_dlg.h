#pragma once
// "Select cluster range": the range of clusters a deep scan examines, with
// an edit and a slider for each end and the size of the range in
// megabytes. OK accepts only an end behind the start.

#include <QDialog>
#include <QPointer>

#include <cstdint>
#include <memory>

#include "ui/hand_over.h"
#include "volume/host.h"

class QCheckBox;
class QDoubleSpinBox;
class QLabel;
class QSlider;

namespace relictor {

class CClusterRangeDlg : public QDialog {
  Q_OBJECT

 public:
  // With `offerAllClusters` (a deep scan) a check box lets the scan
  // examine the clusters of existing files too.
  CClusterRangeDlg(std::uint64_t minimum, std::uint64_t maximum, std::uint32_t bytesPerCluster,
                   QWidget* parent = nullptr, bool offerAllClusters = false);

  std::uint64_t Start() const;
  std::uint64_t End() const;
  bool AllClusters() const;
  QString SummaryText() const;

 public slots:
  void accept() override;

 private:
  void OnEditChanged(bool start);
  void OnSliderMoved(bool start);
  void RefreshSummary();
  int SliderPos(std::uint64_t value) const;
  std::uint64_t SliderValue(int pos) const;

  std::uint64_t minimum_, maximum_;
  std::uint32_t bytesPerCluster_;
  int shift_ = 0;  // slider positions count clusters in units of 1 << shift_
  QDoubleSpinBox* start_;
  QDoubleSpinBox* end_;
  QSlider* startSlider_;
  QSlider* endSlider_;
  QLabel* summary_;
  QCheckBox* allClusters_ = nullptr;
};

// The window's answer to the core's question for a scan range: the dialog
// above, over `parent`. Asked from the worker thread, the dialog is shown
// on the interface thread.
class QtClusterRangeChooser final : public ClusterRangeChooser {
 public:
  explicit QtClusterRangeChooser(QWidget* parent = nullptr)
      : parent_(parent), call_(std::make_unique<HandOver>()) {}
  bool Choose(std::uint64_t minimum, std::uint64_t maximum, std::uint32_t bytesPerCluster, std::uint64_t& start,
              std::uint64_t& end) override;
  bool ChooseScan(std::uint64_t minimum, std::uint64_t maximum, std::uint32_t bytesPerCluster, std::uint64_t& start,
                  std::uint64_t& end, bool& allClusters) override;

 private:
  bool Ask(std::uint64_t minimum, std::uint64_t maximum, std::uint32_t bytesPerCluster, std::uint64_t& start,
           std::uint64_t& end, bool* allClusters);
  QPointer<QWidget> parent_;
  std::unique_ptr<HandOver> call_;
};

}  // namespace relictor
