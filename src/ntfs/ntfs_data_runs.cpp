#include "ntfs/ntfs_data_runs.h"

#include <algorithm>
#include <limits>

namespace relictor {

NtfsRunsEnd DecodeRuns(ByteSpan runs, std::uint64_t startVcn, std::vector<NtfsRun>& out) {
  std::size_t p = 0;
  std::uint64_t vcn = startVcn;
  std::int64_t lcn = 0;
  for (;;) {
    if (p >= runs.size()) return NtfsRunsEnd::Damaged;
    const std::uint8_t h = runs[p];
    if (h == 0) return NtfsRunsEnd::EndMarker;
    const std::size_t lengthBytes = h & 0x0F;
    const std::size_t offsetBytes = h >> 4;
    if (lengthBytes == 0 || lengthBytes > 8 || offsetBytes > 8) return NtfsRunsEnd::Damaged;
    if (!InBounds(runs, p + 1, lengthBytes + offsetBytes)) return NtfsRunsEnd::Damaged;
    const std::uint64_t length = leN(runs, p + 1, lengthBytes);
    if (length == 0 || length > std::numeric_limits<std::uint64_t>::max() - vcn) return NtfsRunsEnd::Damaged;
    NtfsRun run;
    run.vcn = vcn;
    run.length = length;
    if (offsetBytes == 0) {
      run.sparse = true;
    } else {
      const std::int64_t delta = leSignedN(runs, p + 1 + lengthBytes, offsetBytes);
      // An LCN below 0, or one so large that the cluster's byte offset
      // could not be formed, is no place on any volume.
      if ((delta > 0 && lcn > std::numeric_limits<std::int64_t>::max() - delta) ||
          (delta < 0 && lcn < std::numeric_limits<std::int64_t>::min() - delta)) {
        return NtfsRunsEnd::Damaged;
      }
      lcn += delta;
      if (lcn < 0 || static_cast<std::uint64_t>(lcn) > (std::uint64_t{1} << 48)) return NtfsRunsEnd::Damaged;
      run.lcn = static_cast<std::uint64_t>(lcn);
    }
    out.push_back(run);
    vcn += length;
    p += 1 + lengthBytes + offsetBytes;
  }
}

NtfsVcnMapping MapVcn(const NtfsAttribute& a, std::uint64_t v) {
  NtfsVcnMapping m;
  if (!a.nonResident || v < a.startVcn || v > a.lastVcn) return m;
  std::vector<NtfsRun> runs;
  DecodeRuns(a.Runs(), a.startVcn, runs);
  return MapVcn(runs, v);
}

NtfsVcnMapping MapVcn(const std::vector<NtfsRun>& runs, std::uint64_t v) {
  NtfsVcnMapping m;
  auto it = std::upper_bound(runs.begin(), runs.end(), v, [](std::uint64_t x, const NtfsRun& r) { return x < r.vcn; });
  if (it == runs.begin()) return m;
  --it;
  if (v - it->vcn >= it->length) return m;
  m.found = true;
  m.sparse = it->sparse;
  m.lcn = it->sparse ? 0 : it->lcn + (v - it->vcn);
  m.left = it->length - (v - it->vcn);
  return m;
}

}  // namespace relictor
