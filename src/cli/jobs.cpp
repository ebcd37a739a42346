#include "cli/jobs.h"

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <cstdio>
#include <thread>

namespace relictor::cli {
namespace {

std::atomic<int> interrupts{0};

// The progress line and the questions of a saving run share the terminal:
// the line is drawn by the main thread, questions are asked on the worker.
struct TerminalLine {
  std::mutex mutex;
  bool question = false;  // a question is on the terminal
  std::size_t width = 0;  // characters of the line now shown
};
TerminalLine& Line() {
  static TerminalLine line;
  return line;
}

void OnInterrupt(int) {
  if (interrupts.fetch_add(1) >= 1) {
    signal(SIGINT, SIG_DFL);
    raise(SIGINT);
  }
}

// Runs the real task and remembers whether it finished, so that the
// runner can tell a finished job from a stopped one, and wakes the runner
// the moment it finishes (a short job is not kept waiting for the next
// look at the progress).
class Finishing final : public WorkerTask {
 public:
  explicit Finishing(WorkerTask& inner) : WorkerTask(inner.AutoStart()), inner_(inner) {}
  bool Step() override {
    if (!inner_.Step()) return false;
    {
      std::lock_guard lock(mutex_);
      finished_ = true;
    }
    done_.notify_all();
    return true;
  }
  void OnWorkerDone() override { inner_.OnWorkerDone(); }
  bool Finished() const {
    std::lock_guard lock(mutex_);
    return finished_;
  }
  // Waits at most `wait` for the task to finish; whether it has.
  bool WaitFinished(std::chrono::milliseconds wait) {
    std::unique_lock lock(mutex_);
    return done_.wait_for(lock, wait, [this] { return finished_; });
  }

 private:
  WorkerTask& inner_;
  mutable std::mutex mutex_;
  std::condition_variable done_;
  bool finished_ = false;
};

std::string HumanBytes(double b) {
  char buf[32];
  if (b >= 1e9) std::snprintf(buf, sizeof buf, "%.2f GB", b / 1e9);
  else if (b >= 1e6) std::snprintf(buf, sizeof buf, "%.1f MB", b / 1e6);
  else if (b >= 1e3) std::snprintf(buf, sizeof buf, "%.0f kB", b / 1e3);
  else std::snprintf(buf, sizeof buf, "%.0f B", b);
  return buf;
}

}  // namespace

void InstallInterruptHandler() {
  struct sigaction sa {};
  sa.sa_handler = OnInterrupt;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGINT, &sa, nullptr);
}

bool InterruptRequested() { return interrupts.load() > 0; }

void LineProgress::SetText(ProgressText which, const std::string& text) {
  std::lock_guard lock(mutex_);
  switch (which) {
    case ProgressText::Status:
      s_.status = text;
      break;
    case ProgressText::Counter:
      s_.counter = text;
      break;
    case ProgressText::CurrentItem:
      s_.item = text;
      break;
  }
}

void LineProgress::SetRange(ProgressBar which, std::uint64_t low, std::uint64_t high) {
  std::lock_guard lock(mutex_);
  if (which == ProgressBar::Overall) {
    s_.overallLow = low, s_.overallHigh = high;
  } else {
    // A new file starts: what the previous one wrote counts as done.
    s_.fileBytesDone += s_.filePos;
    s_.fileHigh = high, s_.filePos = 0;
  }
}

void LineProgress::SetPos(ProgressBar which, std::uint64_t pos) {
  std::lock_guard lock(mutex_);
  if (which == ProgressBar::Overall) s_.overallPos = pos;
  else s_.filePos = pos;
}

LineProgress::Snapshot LineProgress::Get() const {
  std::lock_guard lock(mutex_);
  return s_;
}

void LineProgress::Reset() {
  std::lock_guard lock(mutex_);
  s_ = Snapshot{};
}

void CliJobRunner::Draw(const JobInfo& info, const LineProgress::Snapshot& s, double seconds, bool final) {
  if (!draw_) return;
  std::uint64_t span = s.overallHigh > s.overallLow ? s.overallHigh - s.overallLow : 0;
  double fraction = span ? static_cast<double>(std::min(s.overallPos, span)) / static_cast<double>(span) : 0.0;
  double bytes = info.bytesPerStep ? static_cast<double>(s.overallPos) * info.bytesPerStep
                                   : static_cast<double>(s.fileBytesDone + s.filePos);
  double rate = seconds > 0.05 ? bytes / seconds : 0.0;
  char left[32] = "--:--";
  if (rate > 0 && fraction > 0 && info.bytesPerStep) {
    double remain = (static_cast<double>(span - std::min(s.overallPos, span)) * info.bytesPerStep) / rate;
    std::snprintf(left, sizeof left, "%02d:%02d", static_cast<int>(remain) / 60, static_cast<int>(remain) % 60);
  } else if (rate > 0 && fraction > 0) {
    double remain = seconds * (1 - fraction) / fraction;
    std::snprintf(left, sizeof left, "%02d:%02d", static_cast<int>(remain) / 60, static_cast<int>(remain) % 60);
  }
  char line[256];
  std::snprintf(line, sizeof line, "%s %5.1f%%  %s  %s/s  %s left  %s", info.title.c_str(), fraction * 100.0,
                s.counter.c_str(), HumanBytes(rate).c_str(), left, s.status.c_str());
  std::string text = line;
  if (text.size() > 100) text.resize(100);
  TerminalLine& shown = Line();
  std::lock_guard lock(shown.mutex);
  if (shown.question) return;
  if (final) {
    // The run is over: its line goes, so that no figure of a moment
    // before the end stays on the screen; the command says what was done.
    if (shown.width > 0) std::fprintf(stderr, "\r%s\r", std::string(shown.width, ' ').c_str());
    std::fflush(stderr);
    shown.width = 0;
    return;
  }
  std::size_t width = text.size();
  if (width < shown.width) text.append(shown.width - width, ' ');
  shown.width = width;
  std::fprintf(stderr, "\r%s", text.c_str());
  std::fflush(stderr);
}

TerminalQuestionScope::TerminalQuestionScope() {
  TerminalLine& shown = Line();
  std::lock_guard lock(shown.mutex);
  shown.question = true;
  if (shown.width > 0) {
    std::fprintf(stderr, "\r%s\r", std::string(shown.width, ' ').c_str());
    std::fflush(stderr);
    shown.width = 0;
  }
}

TerminalQuestionScope::~TerminalQuestionScope() {
  TerminalLine& shown = Line();
  std::lock_guard lock(shown.mutex);
  shown.question = false;
}

bool CliJobRunner::Run(WorkerTask& task, const JobInfo& info) {
  LineProgress progress;
  // Long work started from inside other long work (saving a folder of an
  // NTFS volume whose MFT is not loaded yet) runs on the same worker.
  if (IsWorkerThread()) {
    task.SetProgress(nullptr);
    bool finished = RunTaskHere(task, CurrentStopEvent());
    return finished;
  }
  task.SetProgress(&progress);
  Finishing wrapper(task);
  auto started = std::chrono::steady_clock::now();
  if (!StartWorker(wrapper)) {
    task.SetProgress(nullptr);
    return false;
  }
  auto lastDraw = started - std::chrono::seconds(1);
  bool drew = false;
  while (IsWorkerRunning()) {
    if (InterruptRequested()) RequestStop();
    // Once the task has finished its thread is ending: StopWorker waits
    // for that.
    if (wrapper.WaitFinished(std::chrono::milliseconds(20))) break;
    auto now = std::chrono::steady_clock::now();
    if (draw_ && now - started > std::chrono::milliseconds(300) && now - lastDraw > std::chrono::milliseconds(200)) {
      Draw(info, progress.Get(), std::chrono::duration<double>(now - started).count(), false);
      lastDraw = now;
      drew = true;
    }
  }
  StopWorker();
  if (drew) {
    Draw(info, progress.Get(), std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count(),
         true);
  }
  task.SetProgress(nullptr);
  // Tasks that do all their work in one step report finished even when a
  // stop request cut them short, so an interrupt counts as a stop either way.
  bool finished = wrapper.Finished() && !InterruptRequested();
  if (!finished) stopped_ = true;
  return finished;
}

bool CliRangeChooser::Choose(std::uint64_t minimum, std::uint64_t maximum, std::uint32_t, std::uint64_t& start,
                             std::uint64_t& end) {
  refusal_.clear();
  start = hasStart_ ? start_ : minimum;
  end = hasEnd_ ? end_ : maximum;
  if (end < start) {
    refusal_ = "The end cluster can not less start cluster.";
    return false;
  }
  if (start < minimum || end > maximum) {
    refusal_ = "the volume's clusters run from " + std::to_string(minimum) + " to " + std::to_string(maximum) +
               ": choose a range inside them";
    return false;
  }
  return true;
}

}  // namespace relictor::cli
