#pragma once
// Long work on the command line: the task runs on the worker thread while
// the main thread draws one progress line on standard error (when that is a
// terminal) and turns Ctrl-C into a stop request.

#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>

#include "volume/host.h"
#include "worker/frontend.h"

namespace relictor::cli {

// Installs the Ctrl-C handler; a second Ctrl-C ends the program at once.
void InstallInterruptHandler();
bool InterruptRequested();

// Progress reports of the worker, kept for the main thread to draw.
class LineProgress final : public ProgressSink {
 public:
  void SetText(ProgressText which, const std::string& text) override;
  void SetRange(ProgressBar which, std::uint64_t low, std::uint64_t high) override;
  void SetPos(ProgressBar which, std::uint64_t pos) override;
  bool HasWindow() const override { return false; }

  struct Snapshot {
    std::string status, counter, item;
    std::uint64_t overallLow = 0, overallHigh = 0, overallPos = 0;
    std::uint64_t fileHigh = 0, filePos = 0;
    std::uint64_t fileBytesDone = 0;  // bytes of files finished so far
  };
  Snapshot Get() const;
  void Reset();

 private:
  mutable std::mutex mutex_;
  Snapshot s_;
};

class CliJobRunner final : public JobRunner {
 public:
  explicit CliJobRunner(bool drawProgress) : draw_(drawProgress) {}
  bool Run(WorkerTask& task, const JobInfo& info) override;
  // Whether a job was stopped since the program started.
  bool WasStopped() const { return stopped_; }

 private:
  void Draw(const JobInfo& info, const LineProgress::Snapshot& s, double seconds, bool final);
  bool draw_;
  bool stopped_ = false;
};

// Keeps the progress line off the terminal while a question is asked
// there (from the worker thread): the line is cleared when the scope
// starts and is drawn again at the next report after it ends.
class TerminalQuestionScope {
 public:
  TerminalQuestionScope();
  ~TerminalQuestionScope();
  TerminalQuestionScope(const TerminalQuestionScope&) = delete;
  TerminalQuestionScope& operator=(const TerminalQuestionScope&) = delete;
};

// The cluster range of a deep scan: the whole offered range unless the
// command gave a start or an end. A range that leaves the offered one is
// refused like one whose end lies before its start.
class CliRangeChooser final : public ClusterRangeChooser {
 public:
  bool Choose(std::uint64_t minimum, std::uint64_t maximum, std::uint32_t bytesPerCluster, std::uint64_t& start,
              std::uint64_t& end) override;
  bool ChooseScan(std::uint64_t minimum, std::uint64_t maximum, std::uint32_t bytesPerCluster, std::uint64_t& start,
                  std::uint64_t& end, bool& allClusters) override {
    allClusters = allClusters_;
    return Choose(minimum, maximum, bytesPerCluster, start, end);
  }
  void Preset(bool hasStart, std::uint64_t start, bool hasEnd, std::uint64_t end, bool allClusters = false) {
    hasStart_ = hasStart, start_ = start, hasEnd_ = hasEnd, end_ = end, allClusters_ = allClusters;
  }
  // Why the last Choose refused the range, empty when it did not.
  const std::string& Refusal() const { return refusal_; }

 private:
  bool hasStart_ = false, hasEnd_ = false, allClusters_ = false;
  std::uint64_t start_ = 0, end_ = 0;
  std::string refusal_;
};

}  // namespace relictor::cli
