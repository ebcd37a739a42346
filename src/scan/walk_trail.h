#pragma once
// The walks of the length rules that the volume's memo remembers: a walk
// notes the points where it could be resumed, and a later walk that reaches
// one of them takes the earlier walk's end from there instead of walking on.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "scan/cluster_stream.h"
#include "volume/walk_memo.h"

namespace relictor {

class CDriver;

// Rules that note their walks in the volume's memo. Searches are told
// apart by their pattern, hashed into the point's state.
enum WalkRule : std::uint32_t { kWalkGif = 1, kWalkJpeg = 2, kWalkPcx = 3, kWalkSearch = 4 };

// The memo of the volume's scan range.
WalkMemo& MemoOf(CDriver& volume);

// The points one walk passes, and what it learns from earlier walks. Only
// the first resumable point in each group of kGroup clusters is looked up
// and noted: two walks that met somewhere inside a group go on alike and
// meet again at the first such point of the next group they both enter, so
// the memo holds at most one point per group and walk, and a walk that
// joins an earlier one repeats at most a group's worth of its work.
class WalkTrail {
 public:
  WalkTrail(CDriver& volume, const ClusterStream& stream, std::uint32_t rule)
      : memo_(MemoOf(volume)), s_(stream), rule_(rule) {}

  // At a point where the walk could be resumed in parser state `state`,
  // having counted `counted` so far: the end an earlier walk met from
  // here, if any.
  std::optional<WalkEnd> At(std::uint64_t state, std::uint64_t counted = 0) {
    return AtPoint(s_.Cluster(), s_.Offset(), state, counted);
  }
  std::optional<WalkEnd> AtPoint(std::uint64_t cluster, std::uint64_t offset, std::uint64_t state,
                                 std::uint64_t counted) {
    if (noted_ && cluster / kGroup == lastGroup_) return std::nullopt;
    noted_ = true;
    lastGroup_ = cluster / kGroup;
    const WalkPoint point{cluster, offset, state, rule_};
    if (const WalkEnd* end = memo_.Find(point)) {
      hit_ = {point, counted};
      return *end;
    }
    points_.push_back({point, counted});
    return std::nullopt;
  }

  // A walk that took an earlier walk's end from the point At() just gave
  // and then goes on from that end (a decode with more left to do) notes
  // the point too, so that it is remembered with where this walk ends.
  // Without this, every later walk would hop from end to end of all the
  // walks before it.
  void GoesOnFromHit() { points_.push_back(hit_); }

  // Remembers the end for every point passed; `end.counted` is the total
  // counted from the start of the walk.
  void End(const WalkEnd& end) {
    for (const Noted& n : points_) {
      WalkEnd fromHere = end;
      fromHere.counted = end.counted >= n.counted ? end.counted - n.counted : 0;
      memo_.Remember(n.point, fromHere);
    }
    points_.clear();
  }
  void Fail() { End(WalkEnd{}); }

 private:
  struct Noted {
    WalkPoint point;
    std::uint64_t counted;
  };
  WalkMemo& memo_;
  const ClusterStream& s_;
  std::uint32_t rule_;
  static constexpr std::uint64_t kGroup = 4;
  bool noted_ = false;
  std::uint64_t lastGroup_ = 0;
  std::vector<Noted> points_;
  Noted hit_{};
};

// Bytes from offset 0 of cluster `from` to (cluster, offset), or nothing
// when that cannot be told in 64 bits.
std::optional<std::uint64_t> Distance(std::uint64_t from, std::uint64_t cluster, std::uint64_t offset,
                                      std::uint64_t clusterSize);

// A key that tells searches for different patterns apart.
std::uint64_t PatternKey(const std::uint8_t* pattern, std::size_t length, bool ignoreCase);

}  // namespace relictor
