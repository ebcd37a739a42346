#pragma once
// The small interfaces through which the core reaches a front end (the Qt
// window, the command line, or a test). The core never sees a widget, a
// terminal or a JSON writer; it talks to these.

#include <cstdint>
#include <string>

#include "worker/worker.h"

namespace relictor {

// Texts of a progress display.
enum class ProgressText {
  Status,       // "Scanning...", "Saving file...", ...
  Counter,      // "%d/%d"
  CurrentItem,  // the file or folder being saved, or the volume being loaded
};

// Bars of a progress display.
enum class ProgressBar {
  Overall,  // the scan position, or the number of files saved
  File,     // bytes written of the current file
};

// A progress display. A display may lack some of its controls; the core
// skips those (HasText/HasBar), as it skips the whole display when it is
// given none (a null pointer).
class ProgressSink {
 public:
  virtual ~ProgressSink() = default;

  virtual bool HasText(ProgressText) const { return true; }
  virtual bool HasBar(ProgressBar) const { return true; }
  // Whether the display is shown to a user who can answer questions; a
  // saving run without one skips existing files instead of asking.
  virtual bool HasWindow() const { return true; }

  virtual void SetText(ProgressText which, const std::string& text) = 0;
  virtual void SetRange(ProgressBar which, std::uint64_t low, std::uint64_t high) = 0;
  virtual void SetPos(ProgressBar which, std::uint64_t pos) = 0;

  // The saved-files counter of a saving run: the overall bar counts files
  // and the counter text shows "%d/%d".
  void BeginFileCounter(std::uint32_t total);
  void AdvanceFileCounter();
  std::uint32_t FilesDone() const { return filesDone_; }
  std::uint32_t FilesTotal() const { return filesTotal_; }

 private:
  std::uint32_t filesDone_ = 0;
  std::uint32_t filesTotal_ = 0;
};

// Message box styles and answers that the core uses.
namespace msgbox {
inline constexpr std::uint32_t kOk = 0x00000000;
inline constexpr std::uint32_t kYesNo = 0x00000004;
inline constexpr std::uint32_t kYesToAll = 0x08000000;
inline constexpr std::uint32_t kNoToAll = 0x10000000;
inline constexpr std::uint32_t kExclamation = 0x00000030;
inline constexpr std::uint32_t kNoBeep = 0x40000000;
// The overwrite question: "&Yes", "Y&es to All", "&No" with an exclamation icon.
inline constexpr std::uint32_t kOverwriteQuestion = kYesToAll | kExclamation | kYesNo;  // 0x08000034
// A plain notice with "OK" and an exclamation icon.
inline constexpr std::uint32_t kNotice = kExclamation | kOk;  // 48

inline constexpr int kIdOk = 1;
inline constexpr int kIdYes = 6;
inline constexpr int kIdNo = 7;
inline constexpr int kIdYesToAll = 19;
inline constexpr int kIdNoToAll = 20;

inline constexpr const char* kCaption = "Kalvor Relictor";
}  // namespace msgbox

// Asks the user a question or shows a notice; returns the id of the button
// pressed (msgbox::kIdYes, ...).
class Prompter {
 public:
  virtual ~Prompter() = default;
  virtual int Ask(const std::string& text, const std::string& caption, std::uint32_t style) = 0;
};

// The kinds of long work, so that a front end can choose its display.
enum class JobKind {
  LoadMft,      // "Scanning..." while an NTFS volume's MFT is read
  DeepScan,     // "Find Lost Files..."
  LostVolumes,  // "Find Lost Drivers..."
  Saving,       // "File Saving..."
  Search,       // the search pane's background search
};

struct JobInfo {
  JobKind kind = JobKind::DeepScan;
  std::string title;       // window title or first line
  std::string volumeName;  // the volume the job works on, where there is one
  // Bytes that one step of the overall bar stands for (a cluster, a
  // sector), or 0 when the bar counts files.
  std::uint32_t bytesPerStep = 0;
};

// Runs a long task: on the worker, behind a display that shows its
// progress and can stop it. Returns true when the task reported finished,
// false when it was stopped. The runner attaches its display to the task
// (WorkerTask::SetProgress) before the first step.
class JobRunner {
 public:
  virtual ~JobRunner() = default;
  virtual bool Run(WorkerTask& task, const JobInfo& info) = 0;
};

// Runs tasks on the calling thread with no display and its own stop event.
// The core uses it when no front end gave a runner.
class InlineJobRunner final : public JobRunner {
 public:
  explicit InlineJobRunner(ProgressSink* sink = nullptr) : sink_(sink) {}
  bool Run(WorkerTask& task, const JobInfo& info) override;

 private:
  ProgressSink* sink_;
};

}  // namespace relictor
