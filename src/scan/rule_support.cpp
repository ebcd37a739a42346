#include "scan/rule_support.h"

#include <optional>

#include "scan/walk_trail.h"

namespace relictor {

bool SearchRule(ClusterStream& s, std::uint64_t k, std::uint64_t head, const char* pattern, std::size_t n,
                bool ignoreCase, std::uint64_t& length) {
  if (!s.Begin(k)) return false;
  RuleInput in(s);
  length = head;
  return in.Skip(head) && in.Find(pattern, n, ignoreCase, length);
}

WalkEnd EndHere(const ClusterStream& s) { return WalkEnd{true, s.Cluster(), s.Offset(), 0, 0}; }

bool MoveTo(ClusterStream& s, std::uint64_t cluster, std::uint64_t offset) {
  return s.Begin(cluster) && (offset == 0 || s.Skip(offset) >= 0);
}

bool LengthOf(const CDriver& volume, std::uint64_t k, const WalkEnd& end, std::uint64_t& length) {
  if (!end.found) return false;
  const std::optional<std::uint64_t> d = Distance(k, end.cluster, end.offset, ClusterStream::ClusterSize(volume));
  if (!d) return false;
  length = *d;
  return true;
}

}  // namespace relictor
