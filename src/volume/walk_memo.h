#pragma once
// What the length rules learnt from earlier walks over a volume's clusters.
//
// A rule that walks a file's structure (or searches for its end marker) is
// deterministic: from a given position in a given parser state it always
// ends the same way. Two walks that meet in the same state therefore end
// alike, and a hostile volume that makes many walks pass over the same
// clusters (a header in every cluster, or many deleted entries that name
// the same first cluster) must not cost each of them the whole way again.
// Each walk notes its state at the first resumable point in every cluster
// it enters, and once it ends, those points are remembered with the way it
// ended. A later walk that reaches a remembered point takes the ending from
// there. The memo belongs to one reader and is emptied whenever the scan
// range changes, since where a walk stops depends on that range.
//
// Rules whose walks cannot be resumed from a point (the structure of a
// compound document is named by sector numbers relative to its header; an
// audio frame walk or a box walk starts wherever its header says) draw
// their cluster loads from one allowance per range instead, a fixed number
// of loads per cluster of the range. Sound files take a small share of it
// (each is read at most about once), so only a hostile volume, whose
// headers would make every rule walk the whole range, ever spends it; the
// rules then find nothing more, and the scan stays linear in the range.

#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

namespace relictor {

struct WalkPoint {
  std::uint64_t cluster = 0;
  std::uint64_t offset = 0;
  std::uint64_t state = 0;  // the rule's parser state at that position
  std::uint32_t rule = 0;   // which rule (or which search pattern) walked

  bool operator==(const WalkPoint&) const = default;
};

struct WalkPointHash {
  std::size_t operator()(const WalkPoint& p) const {
    std::uint64_t h = p.cluster * 0x9E3779B97F4A7C15ull;
    h ^= (p.offset + 0x632BE59BD9B4E019ull) + (h << 6) + (h >> 2);
    h ^= (p.state * 0xC2B2AE3D27D4EB4Full) + (h << 6) + (h >> 2);
    h ^= p.rule + (h << 6) + (h >> 2);
    return static_cast<std::size_t>(h);
  }
};

// How a walk ended, seen from one of its points: where it stopped and, for
// rules that count something on the way (decoded pixels), how much was
// counted from the point to the stop.
struct WalkEnd {
  bool found = false;
  std::uint64_t cluster = 0;
  std::uint64_t offset = 0;
  std::uint64_t counted = 0;
  std::uint32_t kind = 0;  // rule-specific reason for the stop
};

// A complete answer of the detector for one start cluster.
struct RememberedGuess {
  bool found = false;
  std::string typeName;
  std::uint64_t length = 0;
};

class WalkMemo {
 public:
  // Bounds on the memory the memo may take; when one is reached the memo
  // starts afresh, which costs time on a pathological volume but never
  // memory.
  static constexpr std::size_t kMaxPoints = std::size_t{1} << 17;
  static constexpr std::size_t kMaxGuesses = std::size_t{1} << 15;

  const WalkEnd* Find(const WalkPoint& point) const {
    auto it = points_.find(point);
    return it == points_.end() ? nullptr : &it->second;
  }
  void Remember(const WalkPoint& point, const WalkEnd& end) {
    if (points_.size() >= kMaxPoints) points_.clear();
    points_.insert_or_assign(point, end);
  }

  const RememberedGuess* FindGuess(std::uint64_t cluster) const {
    auto it = guesses_.find(cluster);
    return it == guesses_.end() ? nullptr : &it->second;
  }
  void RememberGuess(std::uint64_t cluster, RememberedGuess guess) {
    if (guesses_.size() >= kMaxGuesses) guesses_.clear();
    guesses_.insert_or_assign(cluster, std::move(guess));
  }

  // Cluster loads allowed per cluster of the range, and once per range.
  static constexpr std::uint64_t kLoadsPerCluster = 8;
  static constexpr std::uint64_t kBaseLoads = 1024;

  // Takes one cluster load from the allowance; false once it is spent.
  bool SpendLoad() {
    if (loadsLeft_ == 0) return false;
    --loadsLeft_;
    return true;
  }
  std::uint64_t LoadsLeft() const { return loadsLeft_; }

  // Empties the memo when the range or cluster size it was learnt on is
  // not the one the caller walks now.
  WalkMemo& For(std::uint64_t firstCluster, std::uint64_t lastCluster, std::uint64_t clusterSize) {
    if (!sized_ || firstCluster != first_ || lastCluster != last_ || clusterSize != clusterSize_) {
      Clear();
      first_ = firstCluster;
      last_ = lastCluster;
      clusterSize_ = clusterSize;
      sized_ = true;
      const std::uint64_t clusters = lastCluster >= firstCluster ? lastCluster - firstCluster + 1 : 0;
      constexpr std::uint64_t kMax = ~std::uint64_t{0};
      loadsLeft_ = clusters > (kMax - kBaseLoads) / kLoadsPerCluster ? kMax : clusters * kLoadsPerCluster + kBaseLoads;
    }
    return *this;
  }

  // Forgets everything, the allowance included (a new scan of the same
  // range starts with a whole one).
  void Clear() {
    points_.clear();
    guesses_.clear();
    sized_ = false;
  }
  std::size_t PointCount() const { return points_.size(); }

 private:
  std::unordered_map<WalkPoint, WalkEnd, WalkPointHash> points_;
  std::unordered_map<std::uint64_t, RememberedGuess> guesses_;
  std::uint64_t first_ = 0;
  std::uint64_t last_ = 0;
  std::uint64_t clusterSize_ = 0;
  std::uint64_t loadsLeft_ = 0;
  bool sized_ = false;
};

}  // namespace relictor
