// relictor-cli find: the search of the search pane, from a volume's root.

#include <cstdio>
#include <ctime>

#include "cli/cli.h"
#include "cli/entries.h"
#include "cli/jobs.h"
#include "cli/json.h"
#include "cli/sources.h"
#include "search/search.h"

namespace relictor::cli {
namespace {

// "YYYY-MM-DD" or "YYYY-MM-DDTHH:MM:SS", in local time; also as the
// listings print dates, "YYYY/MM/DD" and "YYYY/MM/DD HH:MM:SS".
bool ParseLocalTime(const std::string& given, EntryTime& out) {
  std::string text = given;
  if (text.size() >= 10 && text[4] == '/' && text[7] == '/') {
    text[4] = text[7] = '-';
    if (text.size() > 10 && text[10] == ' ') text[10] = 'T';
  }
  int y, mo, d, h = 0, mi = 0, s = 0;
  char tail = 0;
  int n = std::sscanf(text.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d%c", &y, &mo, &d, &h, &mi, &s, &tail);
  bool dateOnly = n == 3 && text.size() == 10;
  bool full = n == 6 && text.size() == 19;
  if (!dateOnly && !full) return false;
  if (mo < 1 || mo > 12 || d < 1 || d > 31 || h > 23 || mi > 59 || s > 60 || y < 1900) return false;
  std::tm tm{};
  tm.tm_year = y - 1900, tm.tm_mon = mo - 1, tm.tm_mday = d, tm.tm_hour = h, tm.tm_min = mi, tm.tm_sec = s;
  tm.tm_isdst = -1;
  std::time_t t = std::mktime(&tm);
  if (t == static_cast<std::time_t>(-1) || tm.tm_mday != d) return false;
  out = static_cast<EntryTime>(t);
  return true;
}

// Writes each hit as the search finds it. The search calls it on the
// worker thread, which alone uses the listing until the job has ended.
class StreamHits final : public SearchResultSink {
 public:
  explicit StreamHits(EntryListing& listing) : listing_(listing) {}
  void AddResult(std::uint32_t, CDirEntry* entry) override {
    if (entry) listing_.Write(*entry);
  }

 private:
  EntryListing& listing_;
};

const Command& FindCommand() { return CommandNamed("find"); }

int RunFind(Context& context, const Args& args) {
  const auto& pos = args.Positionals();
  if (pos.empty() || pos.size() > 2) return UsageError(FindCommand(), "give a SOURCE and at most one PATTERN");
  SearchCriteria c;
  c.pattern = pos.size() == 2 ? pos[1] : "";
  c.matchCase = args.Has("--case");
  c.recurse = args.Has("-r");
  if (args.Has("--size-between")) {
    const auto& v = args.Values("--size-between");
    if (!ParseUnsigned(v[0], c.sizeLow) || !ParseUnsigned(v[1], c.sizeHigh)) {
      return UsageError(FindCommand(), "--size-between takes two byte counts");
    }
    c.sizeFilter = true;
  }
  if (args.Has("--created") && args.Has("--modified")) {
    return UsageError(FindCommand(), "give --created or --modified, not both");
  }
  for (const char* option : {"--created", "--modified"}) {
    if (!args.Has(option)) continue;
    const auto& v = args.Values(option);
    if (!ParseLocalTime(v[0], c.dateFrom) || !ParseLocalTime(v[1], c.dateTo)) {
      return UsageError(FindCommand(), std::string(option) +
                                           " takes two dates, YYYY-MM-DD or YYYY-MM-DDTHH:MM:SS (or as listings "
                                           "print them, YYYY/MM/DD or \"YYYY/MM/DD HH:MM:SS\")");
    }
    c.dateFilter = true;
    c.dateKind = std::string(option) == "--modified" ? kDateModified : kDateCreated;
  }

  OpenedVolume opened;
  if (!OpenVolumeForCommand(pos[0], context.host, opened)) return opened.failure;
  OutputBuffer out;
  EntryListing listing(out, args.Has("--json"), true);
  StreamHits sink(listing);
  SearchTask task(*opened.volume->GetRoot(), c, &sink);
  JobInfo info{JobKind::Search, "Searching", opened.volume->GetDisplayName(), 0};
  context.jobs->Run(task, info);
  listing.Close();
  if (!task.Completed()) return FinishOutput(out, kExitStopped);
  const int rc = FinishOutput(out, kExitOk);
  if (rc == kExitOk) std::fprintf(stderr, "%s\n", task.StatusText().c_str());
  return rc;
}

const CommandRegistrar registrar({
    "find",
    "find SOURCE [PATTERN] [--case] [-r] [--size-between LO HI] [--created FROM TO | --modified FROM TO] [--json]",
    "Search a volume from its root by name pattern (* and ?), size in bytes (strictly between) and date "
    "(YYYY-MM-DD or YYYY-MM-DDTHH:MM:SS, or YYYY/MM/DD [HH:MM:SS] as listings print them; local time, "
    "strictly between).",
    {{"--case", 0}, {"-r", 0}, {"--size-between", 2}, {"--created", 2}, {"--modified", 2}, {"--json", 0}},
    RunFind,
});

}  // namespace
}  // namespace relictor::cli
