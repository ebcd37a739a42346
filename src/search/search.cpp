#include "search/search.h"

#include <cctype>
#include <set>
#include <utility>
#include <vector>

#include "volume/driver.h"

namespace relictor {
namespace {

unsigned char Fold(unsigned char c, bool matchCase) {
  return matchCase ? c : static_cast<unsigned char>(std::toupper(c));
}

// The matcher restarts on the rest of the name after a "*", which on its
// own takes time exponential in the number of stars; remembering the
// outcome of each (name offset, pattern offset) restart keeps it
// polynomial without changing a single answer.
class Matcher {
 public:
  Matcher(std::string_view name, std::string_view pattern, bool matchCase)
      : name_(name), pattern_(pattern), matchCase_(matchCase),
        memo_((name.size() + 1) * (pattern.size() + 1), kUnknown) {}

  // The match of name[nameStart..] against pattern[patternStart..].
  bool From(std::size_t nameStart, std::size_t patternStart) {
    std::uint8_t& slot = memo_[nameStart * (pattern_.size() + 1) + patternStart];
    if (slot != kUnknown) return slot == kYes;
    bool result = Compute(nameStart, patternStart);
    slot = result ? kYes : kNo;
    return result;
  }

 private:
  static constexpr std::uint8_t kUnknown = 0, kYes = 1, kNo = 2;

  bool Compute(std::size_t nameStart, std::size_t patternStart) {
    std::size_t len = name_.size() - nameStart;
    std::size_t plen = pattern_.size() - patternStart;
    if (plen == 0) return len == 0;
    std::size_t i = 0, j = 0;
    while (i < plen) {
      char p = pattern_[patternStart + i];
      if (p == '*') {
        std::size_t rest = patternStart + i + 1;
        if (rest == pattern_.size()) return true;
        if (j >= len) return false;
        // Every remainder of the name from j on, but never the empty one.
        for (std::size_t k = j; k < len; ++k) {
          if (From(nameStart + k, rest)) return true;
        }
        return false;
      }
      if (j > len) return false;
      if (p == '?' || (j < len && Fold(static_cast<unsigned char>(p), matchCase_) ==
                                      Fold(static_cast<unsigned char>(name_[nameStart + j]), matchCase_))) {
        ++i;
        ++j;
      } else {
        return false;
      }
    }
    return j == len;
  }

  std::string_view name_, pattern_;
  bool matchCase_;
  std::vector<std::uint8_t> memo_;
};

// One search's walk: the folders it has entered, by folder key. A damaged
// volume can make many folder entries name one folder (a diamond of
// folders, or a folder inside itself); each is searched once, so the walk
// costs no more than the folders the volume has.
struct SearchWalk {
  const SearchCriteria& criteria;
  SearchResultSink* sink;
  std::uint32_t& counter;
  std::set<std::pair<const CVolumeDriver*, std::uint64_t>> entered;

  bool Enter(const CDirectory& folder) {
    std::uint64_t key = 0;
    if (!folder.GetFolderKey(key)) return true;
    return entered.insert({folder.volume, key}).second;
  }
};

bool SearchBelow(CDirectory& folder, SearchWalk& walk, int depth) {
  const SearchCriteria& criteria = walk.criteria;
  SearchResultSink* sink = walk.sink;
  std::uint32_t& counter = walk.counter;
  if (!folder.populated) folder.Populate(true, true, true);
  CDirectory* lost = folder.volume ? folder.volume->GetLostFiles() : nullptr;
  // Children may be appended while we walk (a folder whose populate adds
  // entries elsewhere), so walk by index.
  for (std::size_t n = 0; n < folder.children.size(); ++n) {
    if (sink) sink->BeforeChild();
    if (IsStopRequested()) return false;
    CDirEntry* e = folder.children[n].get();
    if (!e || e == lost) continue;
    if (sink && MatchesCriteria(*e, criteria)) {
      sink->AddResult(counter, e);
      ++counter;
    }
    if (e->IsFolder() && sink && criteria.recurse && depth < kMaxSearchDepth) {
      auto& sub = static_cast<CDirectory&>(*e);
      if (!walk.Enter(sub)) continue;
      if (!SearchBelow(sub, walk, depth + 1)) return false;
    }
  }
  return !IsStopRequested();
}

}  // namespace

bool MatchWildcard(std::string_view name, std::string_view pattern, bool matchCase) {
  return Matcher(name, pattern, matchCase).From(0, 0);
}

bool MatchesCriteria(CDirEntry& e, const SearchCriteria& c) {
  std::string_view pattern = c.pattern.empty() ? std::string_view("*") : std::string_view(c.pattern);
  if (!MatchWildcard(e.name, pattern, c.matchCase)) return false;
  if (c.sizeFilter) {
    std::uint64_t s = e.GetSize();
    if (c.inclusive ? !(s >= c.sizeLow && s <= c.sizeHigh) : !(s > c.sizeLow && s < c.sizeHigh)) return false;
  }
  if (c.dateFilter) {
    EntryTime t = c.dateKind == kDateModified ? e.modified : e.created;
    if (t == kNoTime) return false;
    if (c.inclusive ? !(t >= c.dateFrom && t <= c.dateTo) : !(t > c.dateFrom && t < c.dateTo)) return false;
  }
  return true;
}

bool Search(CDirectory& folder, const SearchCriteria& criteria, SearchResultSink* sink, std::uint32_t& counter) {
  SearchWalk walk{criteria, sink, counter, {}};
  walk.Enter(folder);
  return SearchBelow(folder, walk, 0);
}

SearchTask::SearchTask(CDirectory& root, SearchCriteria criteria, SearchResultSink* sink)
    : WorkerTask(false), root_(root), criteria_(std::move(criteria)), sink_(sink) {}

bool SearchTask::Step() {
  searching_ = true;
  hits_ = 0;
  completed_ = Search(root_, criteria_, sink_, hits_);
  if (completed_) status_ = "Finded " + std::to_string(hits_) + " Object(s)";
  searching_ = false;
  return true;
}

}  // namespace relictor
