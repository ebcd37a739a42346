#pragma once
// Saving selected entries into an output folder: a file becomes a file of
// the same name, a folder a folder holding everything below it. A saving
// run first counts the files, then saves the selection in row order, asks
// through the front end's Prompter when a name already exists, and drives
// the front end's progress display. It writes only below the output folder
// and never to the volume it reads.
//
// A run is a WorkerTask (SavingTask) whose one Step does the whole job, so
// that every front end runs it through its JobRunner behind a "File
// Saving..." display that can stop it. The Prompter is called on the
// worker thread.

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "model/entry.h"
#include "recovery/output_names.h"
#include "worker/frontend.h"
#include "worker/worker.h"

namespace relictor {

// The questions and texts of a saving run, as the user sees them.
namespace recovery_text {
inline constexpr const char* kCounting = "Calculating files count...";
inline constexpr const char* kSaving = "Saving file...";
inline constexpr const char* kTitle = "File Saving...";
}  // namespace recovery_text

// "This folder already contains a folder called '%s' ..." with the name.
std::string FolderExistsQuestion(const std::string& name);
// "This folder already contains a file called '%s' ..." with the name.
std::string FileExistsQuestion(const std::string& name);

// What SaveData calls when a file is done: one more file on the overall
// bar and the "%d/%d" counter. Nothing without a display.
void AdvanceFileCounter(ProgressSink* progress);

// Folders deeper than this below a selected folder are not saved (or
// counted): a damaged volume can make a folder tree without end.
inline constexpr int kMaxSaveDepth = 256;

// The files below a folder, at any depth (folders themselves do not
// count); folders that are not read yet are read. -1 when a stop was
// requested. The name of the folder being counted is shown as the current
// item.
std::int64_t CountFiles(CDirectory& folder, ProgressSink* progress);

// One output folder of a run: the path the user is shown (with a final
// "/") and a descriptor through which everything below it is created, so
// that no symbolic link or renamed folder can lead a write elsewhere.
class OutputFolder {
 public:
  OutputFolder() = default;
  ~OutputFolder();
  OutputFolder(OutputFolder&& other) noexcept;
  OutputFolder& operator=(OutputFolder&& other) noexcept;
  OutputFolder(const OutputFolder&) = delete;
  OutputFolder& operator=(const OutputFolder&) = delete;

  const std::string& Path() const { return path_; }
  bool IsOpen() const { return fd_ >= 0; }
  int Fd() const { return fd_; }
  // Why the folder could not be created or opened, one sentence.
  const std::string& Problem() const { return problem_; }

 private:
  friend class SavingRun;
  std::string path_;
  int fd_ = -1;
  std::string problem_;
  std::string key_;  // identifies the folder's name set in the run
};

// A file that was written, whole or short.
struct SavedFile {
  std::string entryPath;   // the entry on the volume, as GetLocation shows it
  std::string outputPath;  // the file written
  std::uint64_t size = 0;  // the entry's size
  std::uint64_t written = 0;
  // Non-empty when the file could not be read whole and was saved short,
  // or when something else about it needs telling (the reader's words).
  std::vector<std::string> problems;
};

// An entry that was not saved, and why.
struct SkippedEntry {
  std::string entryPath;
  std::string outputPath;
  std::string reason;
  bool folder = false;
};

enum class SavingOutcome {
  Finished,  // every selected entry was saved or deliberately skipped
  Stopped,   // a stop was requested; the files saved whole so far stay
  Failed,    // an output file could not be created or written
};

struct SavingReport {
  SavingOutcome outcome = SavingOutcome::Finished;
  std::uint32_t total = 0;  // files counted before saving
  std::vector<SavedFile> saved;
  std::vector<SkippedEntry> skipped;
  // Files whose writing was cut off by a stop or a failure: what had been
  // written of them is removed again, so that no output file looks whole
  // that is not. `reason` says what cut it off.
  std::vector<SkippedEntry> incomplete;
  std::string failure;        // what stopped a failed run
  bool failureShown = false;  // the failure was shown through the prompter
  std::uint64_t bytesWritten = 0;
  // Files among `saved` that carry problems (saved short).
  std::size_t ShortCount() const;
  // Counted files that were neither saved, cut off, nor skipped one by
  // one: after a stop or a failure, the ones never started (the files of
  // a skipped folder count here too).
  std::uint32_t NotStarted() const;
};

// One saving run: the output folder, the display, the prompter, the two
// replace flags and what was done. The operations are those of the
// "File Saving..." job; Save runs the whole job.
class SavingRun {
 public:
  // `outputFolder` gets a final "/" when it has none; an empty one means
  // the current folder. `progress` and `prompter` may be null: without a
  // prompter existing files are skipped and existing folders are answered
  // No, as when nobody can be asked.
  SavingRun(std::string outputFolder, ProgressSink* progress, Prompter* prompter);
  ~SavingRun();
  SavingRun(const SavingRun&) = delete;
  SavingRun& operator=(const SavingRun&) = delete;

  // The two flags of the run, both false at its start.
  bool replaceFiles = false;    // an existing file is replaced without asking
  bool replaceFolders = false;  // an existing folder is written into without asking
  // Keep what exists without asking: an existing folder is entered (not
  // skipped whole), and files that exist in it are skipped, so that what
  // is missing from an earlier saving comes back. Ignored while the
  // replace flags are set.
  bool skipExisting = false;
  // Whether saved files and folders keep their entry's modification and
  // access times. Unset: as the settings of the entry's reader say
  // (Settings::keepTimes), which is how the front ends choose.
  std::optional<bool> keepTimes;

  // Counts, then saves the selection in row order (folders through
  // SaveFolder, files through SaveFile) until the first false result.
  void Save(const std::vector<CDirEntry*>& selection);

  // Opens (without creating) the run's output folder.
  OutputFolder OpenOutputFolder();
  // Saves a folder and everything below it into `parent`; false stops the
  // saving (stopped, or an output file failed).
  bool SaveFolder(CDirectory& folder, OutputFolder& parent, bool& replaceFoldersFlag, bool& replaceFilesFlag);
  // Saves one file into `parent`; false stops the saving.
  bool SaveFile(CFSFile& file, OutputFolder& parent, bool& replaceFilesFlag);

  const std::string& OutputPath() const { return output_; }
  const SavingReport& Report() const { return report_; }
  SavingReport TakeReport() { return std::move(report_); }

 private:
  bool SaveFolderAt(CDirectory& folder, OutputFolder& parent, bool& replaceFoldersFlag, bool& replaceFilesFlag,
                    int depth);
  // Creates `name` in `folder` and lets the entry's reader write it.
  bool WriteFile(CFSFile& file, OutputFolder& folder, const std::string& name);
  // Gives an output file or folder its entry's times when the run keeps
  // them; a time the entry does not know is left as the system set it.
  void ApplyTimes(const CDirEntry& entry, int fd);
  OutputFolder OpenChildFolder(OutputFolder& parent, const std::string& name);
  OutputNameSet& NamesOf(OutputFolder& folder);
  int Ask(const std::string& text);
  bool Fail(const std::string& text);
  bool Stopped();

  std::string output_;
  ProgressSink* progress_;
  Prompter* prompter_;
  SavingReport report_;
  std::map<std::string, OutputNameSet> names_;
  // Folders of the item being saved, by volume and first cluster: a
  // damaged volume can list one folder under several entries, and saving
  // it once is enough (and keeps such a tree from growing without end).
  std::map<std::pair<const void*, std::uint64_t>, std::string> savedFolders_;
  std::unique_ptr<ProgressSink> silent_;
};

// The saving as long work: one Step counts and saves the selection. The
// selection's entries must outlive the task, and nothing else may use
// their tree while it runs.
class SavingTask final : public WorkerTask {
 public:
  // With `replaceAll` the run starts with both replace flags set.
  SavingTask(std::vector<CDirEntry*> selection, std::string outputFolder, Prompter* prompter,
             bool replaceAll = false);
  bool Step() override;

  // Whether Step ran; the report is complete once it has.
  bool Ran() const { return ran_; }
  const SavingReport& Report() const { return report_; }
  // The job description for a runner (JobKind::Saving, "File Saving...").
  JobInfo Info(const std::string& volumeName = {}) const;
  // Existing names are kept without a question (SavingRun::skipExisting).
  void SetSkipExisting(bool skip) { skipExisting_ = skip; }

 private:
  std::vector<CDirEntry*> selection_;
  std::string output_;
  Prompter* prompter_;
  bool replaceAll_;
  bool skipExisting_ = false;
  bool ran_ = false;
  SavingReport report_;
};

}  // namespace relictor
