#pragma once
// Finding entries of one volume by name pattern, size and date. The walk
// reads folders from disk as it goes (populating them with force) and hands
// every hit to a sink, which the window turns into result rows and the
// command line prints.

#include <cstdint>
#include <string>
#include <string_view>

#include "model/entry.h"
#include "worker/worker.h"

namespace relictor {

struct SearchCriteria {
  std::string pattern;  // "*" and "?" wildcards; empty searches with "*"
  bool matchCase = false;
  bool recurse = false;
  // Size strictly between the bounds, in bytes (not scaled to kilobytes).
  // With `inclusive` a size or time equal to a bound passes too.
  bool sizeFilter = false;
  std::uint64_t sizeLow = 0;
  std::uint64_t sizeHigh = 0;
  // Creation (kind 0) or modification (kind 1) time strictly between the
  // bounds, whole seconds.
  bool dateFilter = false;
  int dateKind = 0;
  EntryTime dateFrom = 0;
  EntryTime dateTo = 0;
  bool inclusive = false;
};

inline constexpr int kDateCreated = 0;
inline constexpr int kDateModified = 1;

class SearchResultSink {
 public:
  virtual ~SearchResultSink() = default;
  // A hit, with the row index it takes in the result list.
  virtual void AddResult(std::uint32_t index, CDirEntry* entry) = 0;
  // Called on the searching thread before each child is looked at, where
  // the walk holds no entry it is about to change: a front end whose
  // interface thread shares the volume can take the tree over here for a
  // moment.
  virtual void BeforeChild() {}
};

// `*` stands for any run of characters, `?` for any one character; other
// characters compare byte by byte, as they are with `matchCase`, else after
// the C library's single-byte toupper. A `*` followed by more pattern needs
// at least one more name character, so "a**" does not match "a".
bool MatchWildcard(std::string_view name, std::string_view pattern, bool matchCase);

// Whether one entry passes the criteria (name, and the filters that are on).
bool MatchesCriteria(CDirEntry& entry, const SearchCriteria& criteria);

// Searches the children of `folder` (and, with recurse and a sink, the
// folders below). Counts hits in `counter`. False when stopped.
bool Search(CDirectory& folder, const SearchCriteria& criteria, SearchResultSink* sink, std::uint32_t& counter);

// Folders nested deeper than this are not searched into: a damaged volume
// can describe a folder that holds itself.
inline constexpr int kMaxSearchDepth = 256;

// The search as background work: one step that searches from `root`. When
// it ran to its end, `StatusText` is "Finded %d Object(s)" with the count.
class SearchTask final : public WorkerTask {
 public:
  SearchTask(CDirectory& root, SearchCriteria criteria, SearchResultSink* sink);
  bool Step() override;
  bool Searching() const { return searching_; }
  bool Completed() const { return completed_; }
  std::uint32_t Hits() const { return hits_; }
  const std::string& StatusText() const { return status_; }

 private:
  CDirectory& root_;
  SearchCriteria criteria_;
  SearchResultSink* sink_;
  bool searching_ = false;
  bool completed_ = false;
  std::uint32_t hits_ = 0;
  std::string status_;
};

}  // namespace relictor
