// relictor-cli recover: save files and whole folders of a volume into an
// output folder, as the Recover command does.

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>

#include "cli/cli.h"
#include "cli/entries.h"
#include "cli/jobs.h"
#include "cli/paths.h"
#include "cli/saving.h"
#include "cli/sources.h"
#include "recovery/output_device.h"
#include "recovery/recovery.h"
#include "scan/deep_scan.h"
#include "worker/worker.h"

namespace relictor::cli {
namespace {

// Asks the saving run's questions on the terminal: the question on
// standard error, the answer from standard input. It runs on the worker
// thread, so it keeps an eye on the stop event while it waits: Ctrl-C
// during a question stops the saving instead of hanging in the read.
class TerminalPrompter final : public Prompter {
 public:
  explicit TerminalPrompter(bool alwaysNo) : alwaysNo_(alwaysNo) {}

  int Ask(const std::string& text, const std::string& caption, std::uint32_t style) override {
    if (style == msgbox::kNotice) {
      TerminalQuestionScope quiet;
      std::fprintf(stderr, "%s: %s\n", caption.c_str(), TerminalSafeLines(text).c_str());
      return msgbox::kIdOk;
    }
    if (alwaysNo_) return msgbox::kIdNo;
    TerminalQuestionScope quiet;
    for (;;) {
      std::fprintf(stderr, "%s: %s\n[y] Yes  [a] Yes to All  [n] No: ", caption.c_str(), TerminalSafeLines(text).c_str());
      std::fflush(stderr);
      std::string line;
      if (!ReadLine(line)) {
        std::fputs("\n", stderr);
        return msgbox::kIdNo;
      }
      std::string word;
      for (char c : line) {
        if (c == ' ' || c == '\t' || c == '\r') continue;
        word += (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
      }
      if (word == "y" || word == "yes") return msgbox::kIdYes;
      if (word == "a" || word == "all" || word == "yestoall") return msgbox::kIdYesToAll;
      if (word == "n" || word == "no") return msgbox::kIdNo;
    }
  }

 private:
  // The question texts break their lines themselves; anything else that
  // could steer the terminal is replaced.
  static std::string TerminalSafeLines(const std::string& text) {
    std::string out;
    std::size_t start = 0;
    for (;;) {
      auto nl = text.find('\n', start);
      out += TerminalSafe(text.substr(start, nl == std::string::npos ? std::string::npos : nl - start));
      if (nl == std::string::npos) return out;
      out += '\n';
      start = nl + 1;
    }
  }

  // One line from standard input; false at its end, on an error, or when
  // the saving is being stopped.
  static bool ReadLine(std::string& line) {
    line.clear();
    for (;;) {
      // Ctrl-C while a question waits stops the run at once: the main
      // thread would pass it on only at its next poll, and by then the
      // saving could have moved on to the next file.
      if (InterruptRequested()) RequestStop();
      if (IsStopRequested()) return false;
      pollfd p{STDIN_FILENO, POLLIN, 0};
      int ready = ::poll(&p, 1, 100);
      if (ready < 0 && errno != EINTR) return false;
      if (ready <= 0) continue;
      char c = 0;
      ssize_t n = ::read(STDIN_FILENO, &c, 1);
      if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
      if (n <= 0) return !line.empty();
      if (c == '\n') return true;
      if (line.size() < 256) line += c;
    }
  }

  bool alwaysNo_;
};

std::string Bytes(std::uint64_t n) { return std::to_string(n) + (n == 1 ? " byte" : " bytes"); }

void PrintReport(const SavingReport& report, const std::string& outputFolder, std::FILE* out) {
  for (const SavedFile& f : report.saved) {
    if (f.problems.empty()) {
      std::fprintf(out, "saved    %12llu  %s\n", static_cast<unsigned long long>(f.written), TerminalSafe(f.outputPath).c_str());
      continue;
    }
    std::fprintf(out, "SHORT    %12llu  %s (of %s)\n", static_cast<unsigned long long>(f.written),
                TerminalSafe(f.outputPath).c_str(), Bytes(f.size).c_str());
    for (const std::string& p : f.problems) std::fprintf(out, "           %s\n", TerminalSafe(p).c_str());
  }
  for (const SkippedEntry& s : report.skipped) {
    std::fprintf(out, "skipped  %12s  %s: %s\n", "", TerminalSafe(s.outputPath).c_str(), TerminalSafe(s.reason).c_str());
  }
  for (const SkippedEntry& s : report.incomplete) {
    std::fprintf(out, "CUT OFF  %12s  %s: %s\n", "", TerminalSafe(s.outputPath).c_str(), TerminalSafe(s.reason).c_str());
  }
  std::size_t whole = report.saved.size() - report.ShortCount();
  std::fprintf(out, "%zu of %u file%s saved whole (%s) into %s", whole, report.total, report.total == 1 ? "" : "s",
              Bytes(report.bytesWritten).c_str(), TerminalSafe(outputFolder).c_str());
  if (report.ShortCount() > 0) std::fprintf(out, ", %zu saved short", report.ShortCount());
  if (!report.skipped.empty()) std::fprintf(out, ", %zu skipped", report.skipped.size());
  if (!report.incomplete.empty()) std::fprintf(out, ", %zu cut off and removed", report.incomplete.size());
  if (report.outcome != SavingOutcome::Finished && report.NotStarted() > 0) {
    std::fprintf(out, ", %u not started", report.NotStarted());
  }
  std::fprintf(out, "\n");
}

int RunRecover(Context& context, const Args& args);

// Runs the deep scan that fills LostFiles over the whole range.
int ScanLostFiles(Context& context, CVolumeDriver& volume) {
  context.ranges->Preset(false, 0, false, 0);
  if (!ExpandLostFiles(volume)) {
    PrintError(context.ranges->Refusal().empty() ? std::string("the scan could not be started")
                                                 : context.ranges->Refusal());
    return kExitError;
  }
  CDirectory* lost = volume.GetLostFiles();
  if (!lost->populated || InterruptRequested()) return kExitStopped;
  std::fprintf(stderr, "scanned clusters %s: %zu lost entr%s\n",
               ClusterRangeSummary(volume.FirstCluster(), volume.LastCluster(), volume.BytesPerCluster()).c_str(),
               lost->children.size(), lost->children.size() == 1 ? "y" : "ies");
  return kExitOk;
}

const Command kRecover{
    "recover",
    "recover SOURCE PATH... -o OUTDIR [--overwrite | --skip]",
    "Save files and whole folders of a volume into OUTDIR (created when missing; PATH / saves the root's "
    "contents, /LostFiles runs the deep scan first). Existing names are asked about on a terminal; --overwrite "
    "replaces them, --skip (the default without a terminal) keeps existing files and saves into existing "
    "folders what they lack.",
    {{"-o", 1}, {"--overwrite", 0}, {"--skip", 0}},
    RunRecover,
};

bool NamesRoot(const std::string& path) {
  for (char c : path) {
    if (c != '/' && c != '\\') return false;
  }
  return true;
}

int RunRecover(Context& context, const Args& args) {
  const auto& pos = args.Positionals();
  if (pos.size() < 2) return UsageError(kRecover, "recover takes a SOURCE and at least one PATH");
  if (!args.Has("-o") || args.Value("-o").empty()) return UsageError(kRecover, "name the output folder with -o OUTDIR");
  SaveOptions options;
  std::string error;
  if (!ReadSaveOptions(args, options, error)) return UsageError(kRecover, error);
  const std::string outputFolder = args.Value("-o");
  int rc = CheckOutputFolder(pos[0], outputFolder);
  if (rc != kExitOk) return rc;

  OpenedVolume opened;
  if (!OpenVolumeForCommand(pos[0], context.host, opened)) return opened.failure;

  std::vector<CDirEntry*> selection;
  for (std::size_t i = 1; i < pos.size(); ++i) {
    if (NamesRoot(pos[i])) {
      // The root's contents go straight into the output folder. LostFiles
      // stays out: it holds nothing until a scan has run, and reading it
      // would start one.
      CDirectory* root = opened.volume->GetRoot();
      if (!root) {
        PrintError("the volume has no folder tree");
        return kExitError;
      }
      if (!root->populated) root->Populate(true, true, false);
      for (auto& child : root->children) {
        if (child && child.get() != opened.volume->GetLostFiles()) selection.push_back(child.get());
      }
      continue;
    }
    CDirEntry* entry = FindEntryByPath(*opened.volume, pos[i], error);
    if (!entry) {
      PrintError(error);
      return kExitError;
    }
    // LostFiles holds what the deep scan finds: naming it runs the scan
    // first, as opening it in the window does.
    CDirectory* lost = opened.volume->GetLostFiles();
    if (entry == lost && !lost->populated) {
      rc = ScanLostFiles(context, *opened.volume);
      if (rc != kExitOk) return rc;
    }
    selection.push_back(entry);
  }
  rc = CreateOutputFolder(outputFolder);
  if (rc != kExitOk) return rc;
  return SaveEntries(context, *opened.volume, selection, outputFolder, options);
}

const CommandRegistrar registrar(kRecover);

}  // namespace

bool ReadSaveOptions(const Args& args, SaveOptions& out, std::string& error) {
  out.overwrite = args.Has("--overwrite");
  out.skip = args.Has("--skip");
  if (out.overwrite && out.skip) {
    error = "give --overwrite or --skip, not both";
    return false;
  }
  return true;
}

int CheckOutputFolder(const std::string& sourceSpec, const std::string& outputFolder) {
  VolumeSpec named;
  std::string error;
  std::string why;
  if (ParseVolumeSpec(sourceSpec, named, error) && FolderLiesOnSource(named.path, outputFolder, why)) {
    PrintError(TerminalSafe(why));
    return kExitUsage;
  }
  return kExitOk;
}

int CreateOutputFolder(const std::string& outputFolder) {
  std::error_code ec;
  std::filesystem::create_directories(outputFolder, ec);
  if (ec || !std::filesystem::is_directory(outputFolder, ec)) {
    PrintError("cannot create the output folder " + TerminalSafe(outputFolder) + ": " +
               (ec ? ec.message() : std::string("something that is not a folder is in the way")));
    return kExitError;
  }
  return kExitOk;
}

int SaveEntries(Context& context, CVolumeDriver& volume, const std::vector<CDirEntry*>& entries,
                const std::string& outputFolder, const SaveOptions& options) {
  std::unique_ptr<TerminalPrompter> prompter;
  if (options.skip || (!options.overwrite && context.stdinIsTerminal)) {
    prompter = std::make_unique<TerminalPrompter>(options.skip);
  }
  SavingTask task(entries, outputFolder, prompter.get(), options.overwrite);
  // Where nobody can be asked, existing names are kept as with --skip.
  task.SetSkipExisting(options.skip || (!options.overwrite && !context.stdinIsTerminal));
  bool finished = context.jobs->Run(task, task.Info(volume.GetDisplayName()));
  const SavingReport& report = task.Report();
  std::string shown = outputFolder;
  if (shown.back() != '/') shown += '/';
  std::FILE* out = options.reportOnStderr ? stderr : stdout;
  if (task.Ran()) PrintReport(report, shown, out);
  std::fflush(out);
  if (!finished || !task.Ran() || report.outcome == SavingOutcome::Stopped) {
    PrintError("stopped: the files saved so far stay in " + TerminalSafe(shown));
    return kExitStopped;
  }
  if (report.outcome == SavingOutcome::Failed) {
    if (!report.failureShown) PrintError(TerminalSafe(report.failure));
    PrintError("the saving was stopped by the error above");
    return kExitError;
  }
  if (report.ShortCount() > 0) {
    PrintError(std::to_string(report.ShortCount()) + " file" + (report.ShortCount() == 1 ? " was" : "s were") +
               " saved short: part of the data could not be read");
    return kExitError;
  }
  return kExitOk;
}

}  // namespace relictor::cli
