#include "recovery/recovery.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <limits>
#include <set>
#include <utility>

#include "model/output_file.h"
#include "recovery/output_device.h"
#include "volume/driver.h"

namespace relictor {
namespace {

// The display of a run that was given none. It shows nothing, but the
// readers' SaveData only polls the stop event and counts files when it has
// a display, and a run must stop when asked with or without one.
class SilentProgress final : public ProgressSink {
 public:
  bool HasText(ProgressText) const override { return false; }
  bool HasBar(ProgressBar) const override { return false; }
  bool HasWindow() const override { return false; }
  void SetText(ProgressText, const std::string&) override {}
  void SetRange(ProgressBar, std::uint64_t, std::uint64_t) override {}
  void SetPos(ProgressBar, std::uint64_t) override {}
};

void ShowText(ProgressSink* progress, ProgressText which, const std::string& text) {
  if (progress && progress->HasText(which)) progress->SetText(which, text);
}

std::string EntryPath(const CDirEntry& entry) { return entry.GetLocation() + entry.name; }

// The system's text for an error, cut to the 512 characters a notice holds.
std::string SystemText(int error) {
  std::string text = std::strerror(error);
  if (text.size() > 512) text.resize(512);
  return text;
}

std::string KeyOf(const struct stat& st) {
  return std::to_string(static_cast<std::uint64_t>(st.st_dev)) + ":" +
         std::to_string(static_cast<std::uint64_t>(st.st_ino));
}

// What stands at `name` in the folder, without following a link; 0 when
// nothing does.
mode_t ModeAt(int folder, const std::string& name) {
  struct stat st {};
  if (::fstatat(folder, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return 0;
  return st.st_mode;
}

std::string InTheWay(mode_t mode) {
  if (S_ISLNK(mode)) return "a symbolic link is in the way";
  if (S_ISDIR(mode)) return "a folder of that name is in the way";
  return "something that is not a regular file is in the way";
}

// Reads a folder's children for counting or saving. A volume's LostFiles
// folder is left as it is: reading it on purpose starts a deep scan, and
// the forced read would only mark a never-scanned folder as scanned, so
// that no scan would ever be offered for it again.
void ReadChildren(CDirectory& folder) {
  if (folder.populated) return;
  if (folder.volume && folder.volume->GetLostFiles() == &folder) return;
  folder.Populate(true, true, true);
}

using FolderKey = std::pair<const void*, std::uint64_t>;

bool FolderKeyOf(const CDirectory& folder, FolderKey& key) {
  std::uint64_t cluster = 0;
  if (!folder.GetFolderKey(cluster)) return false;
  key = {folder.volume, cluster};
  return true;
}

struct CountWalk {
  ProgressSink* progress = nullptr;
  std::set<FolderKey> seen;
};

std::int64_t CountBelow(CDirectory& folder, CountWalk& walk, int depth) {
  ReadChildren(folder);
  std::int64_t count = 0;
  for (std::size_t i = 0; i < folder.children.size(); ++i) {
    if (walk.progress && IsStopRequested()) return -1;
    CDirEntry* child = folder.children[i].get();
    if (!child) continue;
    if (auto* sub = dynamic_cast<CDirectory*>(child)) {
      ShowText(walk.progress, ProgressText::CurrentItem, folder.name);
      if (depth + 1 >= kMaxSaveDepth) continue;
      FolderKey key;
      if (FolderKeyOf(*sub, key) && !walk.seen.insert(key).second) continue;
      std::int64_t n = CountBelow(*sub, walk, depth + 1);
      if (n < 0) return -1;
      count += n;
    } else {
      ++count;
    }
  }
  return count;
}

}  // namespace

std::string FolderExistsQuestion(const std::string& name) {
  return "This folder already contains a folder called '" + name +
         "' \nIf the files in the existing folder have the same name as files you are saving, \ndo you want to "
         "replace the existing files?";
}

std::string FileExistsQuestion(const std::string& name) {
  return "This folder already contains a file called '" + name + "' \nWould you like to replace the existing file?";
}

void AdvanceFileCounter(ProgressSink* progress) {
  if (progress) progress->AdvanceFileCounter();
}

std::int64_t CountFiles(CDirectory& folder, ProgressSink* progress) {
  CountWalk walk;
  walk.progress = progress;
  FolderKey key;
  if (FolderKeyOf(folder, key)) walk.seen.insert(key);
  return CountBelow(folder, walk, 0);
}

std::size_t SavingReport::ShortCount() const {
  std::size_t n = 0;
  for (const auto& s : saved) n += s.problems.empty() ? 0 : 1;
  return n;
}

std::uint32_t SavingReport::NotStarted() const {
  std::uint64_t done = saved.size() + incomplete.size();
  for (const auto& s : skipped) done += s.folder ? 0 : 1;
  return done >= total ? 0 : static_cast<std::uint32_t>(total - done);
}

// ---------------------------------------------------------------------------
// Output folders

OutputFolder::~OutputFolder() {
  if (fd_ >= 0) ::close(fd_);
}

OutputFolder::OutputFolder(OutputFolder&& other) noexcept
    : path_(std::move(other.path_)), fd_(std::exchange(other.fd_, -1)), problem_(std::move(other.problem_)),
      key_(std::move(other.key_)) {}

OutputFolder& OutputFolder::operator=(OutputFolder&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) ::close(fd_);
    path_ = std::move(other.path_);
    fd_ = std::exchange(other.fd_, -1);
    problem_ = std::move(other.problem_);
    key_ = std::move(other.key_);
  }
  return *this;
}

// ---------------------------------------------------------------------------
// The run

SavingRun::SavingRun(std::string outputFolder, ProgressSink* progress, Prompter* prompter)
    : output_(std::move(outputFolder)), prompter_(prompter), silent_(std::make_unique<SilentProgress>()) {
  // An empty folder text is the current folder; it must not become "/".
  if (output_.empty()) output_ = "./";
  if (output_.back() != '/') output_ += '/';
  progress_ = progress ? progress : silent_.get();
}

SavingRun::~SavingRun() = default;

bool SavingRun::Stopped() {
  if (!IsStopRequested()) return false;
  if (report_.outcome == SavingOutcome::Finished) report_.outcome = SavingOutcome::Stopped;
  return true;
}

int SavingRun::Ask(const std::string& text) {
  return prompter_->Ask(text, msgbox::kCaption, msgbox::kOverwriteQuestion);
}

bool SavingRun::Fail(const std::string& text) {
  report_.outcome = SavingOutcome::Failed;
  report_.failure = text;
  if (prompter_) {
    prompter_->Ask(text, msgbox::kCaption, msgbox::kNotice);
    report_.failureShown = true;
  }
  return false;
}

OutputNameSet& SavingRun::NamesOf(OutputFolder& folder) {
  if (folder.key_.empty()) folder.key_ = "path:" + folder.path_;
  return names_[folder.key_];
}

OutputFolder SavingRun::OpenOutputFolder() {
  OutputFolder f;
  f.path_ = output_;
  int fd = ::open(output_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  struct stat st {};
  if (fd < 0) {
    f.problem_ = "the output folder " + output_ + " cannot be opened: " + SystemText(errno);
  } else if (::fstat(fd, &st) != 0) {
    f.problem_ = "the output folder " + output_ + " cannot be examined: " + SystemText(errno);
    ::close(fd);
  } else {
    f.fd_ = fd;
    f.key_ = KeyOf(st);
  }
  return f;
}

OutputFolder SavingRun::OpenChildFolder(OutputFolder& parent, const std::string& name) {
  OutputFolder f;
  f.path_ = parent.path_ + name + "/";
  if (!parent.IsOpen()) {
    f.problem_ = parent.problem_;
    return f;
  }
  // A folder that already exists is written into; what stands there must
  // really be a folder, never a link to one somewhere else.
  if (::mkdirat(parent.fd_, name.c_str(), 0777) != 0 && errno != EEXIST) {
    f.problem_ = "the folder " + f.path_ + " cannot be created: " + SystemText(errno);
    return f;
  }
  int fd = ::openat(parent.fd_, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  struct stat st {};
  if (fd < 0) {
    int error = errno;
    mode_t mode = ModeAt(parent.fd_, name);
    f.problem_ = "the folder " + f.path_ + " cannot be created: " +
                 (mode != 0 && !S_ISDIR(mode) ? InTheWay(mode) : SystemText(error));
    return f;
  }
  if (::fstat(fd, &st) != 0) {
    f.problem_ = "the folder " + f.path_ + " cannot be examined: " + SystemText(errno);
    ::close(fd);
    return f;
  }
  f.fd_ = fd;
  f.key_ = KeyOf(st);
  return f;
}

void SavingRun::Save(const std::vector<CDirEntry*>& selection) {
  report_ = SavingReport{};
  // Every front end checks this before it creates the folder; the run
  // checks again, since writing there destroys what is being recovered.
  std::string why;
  if (FolderLiesOnSelectionSource(selection, output_, why)) {
    if (!why.empty()) why[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(why[0])));
    Fail(why + ".");
    return;
  }
  ShowText(progress_, ProgressText::CurrentItem, "");
  ShowText(progress_, ProgressText::Status, recovery_text::kCounting);
  std::uint64_t total = 0;
  for (CDirEntry* entry : selection) {
    if (!entry) continue;
    if (auto* folder = dynamic_cast<CDirectory*>(entry)) {
      std::int64_t n = CountFiles(*folder, progress_);
      if (n < 0) {
        report_.outcome = SavingOutcome::Stopped;
        return;
      }
      total += static_cast<std::uint64_t>(n);
    } else {
      ++total;
    }
  }
  report_.total = static_cast<std::uint32_t>(std::min<std::uint64_t>(total, std::numeric_limits<std::uint32_t>::max()));
  ShowText(progress_, ProgressText::Status, recovery_text::kSaving);
  progress_->BeginFileCounter(report_.total);

  bool any = false;
  for (CDirEntry* entry : selection) any = any || entry != nullptr;
  if (!any) return;
  OutputFolder root = OpenOutputFolder();
  for (CDirEntry* entry : selection) {
    if (!entry) continue;
    if (Stopped()) return;
    savedFolders_.clear();
    bool ok = true;
    if (auto* folder = dynamic_cast<CDirectory*>(entry)) {
      ok = SaveFolder(*folder, root, replaceFolders, replaceFiles);
    } else if (auto* file = dynamic_cast<CFSFile*>(entry)) {
      ok = SaveFile(*file, root, replaceFiles);
    } else {
      report_.skipped.push_back({EntryPath(*entry), root.Path() + SafeOutputName(entry->name),
                                 "the entry is neither a file nor a folder", false});
    }
    if (!ok) return;
  }
}

bool SavingRun::SaveFolder(CDirectory& folder, OutputFolder& parent, bool& replaceFoldersFlag,
                           bool& replaceFilesFlag) {
  return SaveFolderAt(folder, parent, replaceFoldersFlag, replaceFilesFlag, 0);
}

bool SavingRun::SaveFolderAt(CDirectory& folder, OutputFolder& parent, bool& replaceFoldersFlag,
                             bool& replaceFilesFlag, int depth) {
  const std::string name = NamesOf(parent).Claim(SafeOutputName(folder.name), true);
  const std::string path = parent.Path() + name + "/";
  if (depth >= kMaxSaveDepth) {
    report_.skipped.push_back({EntryPath(folder), path,
                               "it lies more than " + std::to_string(kMaxSaveDepth) + " folders deep", true});
    return true;
  }
  FolderKey key;
  if (FolderKeyOf(folder, key)) {
    auto [it, inserted] = savedFolders_.emplace(key, path);
    if (!inserted) {
      report_.skipped.push_back({EntryPath(folder), path, "it holds the same folder as " + it->second + ", saved already", true});
      return true;
    }
  }
  const bool exists = parent.IsOpen() && S_ISDIR(ModeAt(parent.Fd(), name));
  if (!replaceFoldersFlag && exists && !skipExisting) {
    // Nobody to ask counts as No: nothing that exists is written into
    // unless the user said so.
    int answer = prompter_ ? Ask(FolderExistsQuestion(name)) : msgbox::kIdNo;
    if (answer == msgbox::kIdNo) {
      replaceFilesFlag = false;
      report_.skipped.push_back({EntryPath(folder), path, "a folder of that name exists", true});
      return true;
    }
    if (answer == msgbox::kIdYes) {
      replaceFilesFlag = true;
    } else if (answer == msgbox::kIdYesToAll) {
      replaceFoldersFlag = true;
      replaceFilesFlag = true;
    }
  }
  ReadChildren(folder);
  OutputFolder here = OpenChildFolder(parent, name);
  // Children are taken by index: saving never changes the tree, but an
  // index stays valid even if a reader appended to it.
  for (std::size_t i = 0; i < folder.children.size(); ++i) {
    if (Stopped()) return false;
    CDirEntry* child = folder.children[i].get();
    if (!child) continue;
    if (auto* sub = dynamic_cast<CDirectory*>(child)) {
      if (!SaveFolderAt(*sub, here, replaceFoldersFlag, replaceFilesFlag, depth + 1)) return false;
    } else if (auto* file = dynamic_cast<CFSFile*>(child)) {
      // Files inside a saved folder replace files of the same name without
      // a question; the folder's question covered them. Unless existing
      // names are kept, then the one that is there stays.
      const std::string fileName = NamesOf(here).Claim(SafeOutputName(file->name), false);
      if (exists && skipExisting && !replaceFilesFlag && here.IsOpen() && ModeAt(here.Fd(), fileName) != 0) {
        report_.skipped.push_back({EntryPath(*file), here.Path() + fileName, "a file of that name exists", false});
        continue;
      }
      if (!WriteFile(*file, here, fileName)) return false;
    } else {
      report_.skipped.push_back({EntryPath(*child), here.Path() + SafeOutputName(child->name),
                                 "the entry is neither a file nor a folder", false});
    }
  }
  // Last, since every file written into the folder changed its time.
  if (here.IsOpen()) ApplyTimes(folder, here.Fd());
  return true;
}

void SavingRun::ApplyTimes(const CDirEntry& entry, int fd) {
  bool keep = false;
  if (keepTimes.has_value()) {
    keep = *keepTimes;
  } else if (entry.volume != nullptr) {
    keep = entry.volume->GetHost().settings.keepTimes;
  }
  if (!keep || fd < 0) return;
  timespec times[2];
  times[0].tv_sec = 0;
  times[0].tv_nsec = UTIME_OMIT;
  times[1] = times[0];
  if (entry.accessed != kNoTime) {
    times[0].tv_sec = static_cast<time_t>(entry.accessed);
    times[0].tv_nsec = 0;
  }
  if (entry.modified != kNoTime) {
    times[1].tv_sec = static_cast<time_t>(entry.modified);
    times[1].tv_nsec = 0;
  }
  // A time the output's file system cannot hold is not worth failing the
  // saving for: the file itself is what the user wants back.
  (void)::futimens(fd, times);
}

bool SavingRun::SaveFile(CFSFile& file, OutputFolder& parent, bool& replaceFilesFlag) {
  const std::string name = NamesOf(parent).Claim(SafeOutputName(file.name), false);
  if (!replaceFilesFlag && parent.IsOpen() && ModeAt(parent.Fd(), name) != 0) {
    if (!prompter_ || skipExisting) {
      report_.skipped.push_back({EntryPath(file), parent.Path() + name, "a file of that name exists", false});
      return true;
    }
    int answer = Ask(FileExistsQuestion(name));
    if (answer == msgbox::kIdNo) {
      report_.skipped.push_back({EntryPath(file), parent.Path() + name, "a file of that name exists", false});
      return true;
    }
    if (answer == msgbox::kIdYesToAll) replaceFilesFlag = true;
  }
  return WriteFile(file, parent, name);
}

bool SavingRun::WriteFile(CFSFile& file, OutputFolder& folder, const std::string& name) {
  const std::string path = folder.Path() + name;
  if (!folder.IsOpen()) return Fail("Cannot create " + path + ": " + folder.Problem());
  mode_t mode = ModeAt(folder.Fd(), name);
  if (mode != 0 && !S_ISREG(mode)) return Fail("Cannot create " + path + ": " + InTheWay(mode));
  // A file that is replaced is removed and made anew rather than cut and
  // rewritten: it may be a hard link to a file outside the output folder,
  // whose data must not change.
  if (mode != 0 && ::unlinkat(folder.Fd(), name.c_str(), 0) != 0 && errno != ENOENT) {
    return Fail("Cannot replace " + path + ": " + SystemText(errno));
  }
  // O_EXCL with O_NOFOLLOW refuses anything that appeared since the look
  // above, a link included; O_NONBLOCK keeps a pipe from blocking the open.
  int fd = ::openat(folder.Fd(), name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC,
                    0666);
  if (fd < 0) {
    int error = errno;
    mode = ModeAt(folder.Fd(), name);
    return Fail("Cannot create " + path + ": " + (mode != 0 && !S_ISREG(mode) ? InTheWay(mode) : SystemText(error)));
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return Fail("Cannot create " + path + ": " + InTheWay(st.st_mode));
  }
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);

  ShowText(progress_, ProgressText::CurrentItem, path);
  FdOutputFile out(fd);
  bool ok = file.SaveData(out, progress_);
  SavedFile record;
  record.entryPath = EntryPath(file);
  record.outputPath = path;
  record.size = file.GetSize();
  record.problems = out.Problems();
  if (::fstat(fd, &st) == 0) record.written = static_cast<std::uint64_t>(st.st_size);
  else record.written = out.BytesWritten();
  // The entry's times go only onto a file that was written to its end: a
  // cut-off file must not pass for the original.
  if (ok) ApplyTimes(file, fd);
  if (::close(fd) != 0) {
    record.problems.push_back("the file could not be written to the end: " + SystemText(errno));
    ok = false;
  }
  const bool stopped = !ok && IsStopRequested();
  if (ok) {
    if (record.written < record.size && record.problems.empty()) {
      // A reader that delivered less without saying why must not pass for
      // a whole file.
      record.problems.push_back("saved only " + std::to_string(record.written) + " of " +
                                std::to_string(record.size) + " bytes");
    }
    report_.bytesWritten += record.written;
    report_.saved.push_back(std::move(record));
    return true;
  }

  // The file was cut off. What was written of it goes again (it was made
  // by this run: O_EXCL above), so that nothing in the output folder looks
  // saved that is not; the report tells what happened to it.
  std::string reason;
  if (stopped) {
    reason = "saving was stopped after " + std::to_string(record.written) + " of " + std::to_string(record.size) +
             " bytes";
  } else {
    reason = record.problems.empty() ? std::string("the reader could not save the file") : record.problems.back();
  }
  if (::unlinkat(folder.Fd(), name.c_str(), 0) != 0 && errno != ENOENT) {
    reason += "; the incomplete file could not be removed: " + SystemText(errno);
  } else {
    reason += "; the incomplete file was removed";
  }
  report_.incomplete.push_back({record.entryPath, path, reason, false});
  if (stopped) {
    Stopped();
    return false;
  }
  // A reader that cannot deliver a file ends the saving without a notice,
  // but the run must not pass for a finished one.
  report_.outcome = SavingOutcome::Failed;
  report_.failure = path + ": " + reason;
  return false;
}

// ---------------------------------------------------------------------------
// The task

SavingTask::SavingTask(std::vector<CDirEntry*> selection, std::string outputFolder, Prompter* prompter,
                       bool replaceAll)
    : selection_(std::move(selection)), output_(std::move(outputFolder)), prompter_(prompter), replaceAll_(replaceAll) {}

bool SavingTask::Step() {
  SavingRun run(output_, Progress(), prompter_);
  run.replaceFiles = replaceAll_;
  run.replaceFolders = replaceAll_;
  run.skipExisting = skipExisting_;
  run.Save(selection_);
  report_ = run.TakeReport();
  ran_ = true;
  return true;
}

JobInfo SavingTask::Info(const std::string& volumeName) const {
  return JobInfo{JobKind::Saving, recovery_text::kTitle, volumeName, 0};
}

}  // namespace relictor
