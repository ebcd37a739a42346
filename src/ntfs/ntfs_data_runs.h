#pragma once
// Data runs: the compact list that maps the virtual clusters (VCNs) of a
// non-resident attribute to logical clusters (LCNs) of the volume. Each
// entry starts with a header byte whose low half gives the width of the
// run length and whose high half the width of the run offset; the offset
// is signed and counts from the previous run's start. An entry without an
// offset is a hole (a sparse run). A header byte of 0 ends the list.

#include <cstdint>
#include <vector>

#include "ntfs/ntfs_attribute.h"
#include "volume/endian.h"

namespace relictor {

struct NtfsRun {
  std::uint64_t vcn = 0;
  std::uint64_t length = 0;  // clusters
  std::uint64_t lcn = 0;     // 0 for a hole
  bool sparse = false;
};

enum class NtfsRunsEnd {
  EndMarker,  // the list ended with its 0 byte
  Damaged,    // an entry ran past the list, had no length, or moved the LCN out of range
};

// Decodes a run list whose first run starts at `startVcn`, appending to
// `out`. The runs before a damaged entry stay in `out`. The number of runs
// is bounded by the bytes of the list (each takes at least two).
NtfsRunsEnd DecodeRuns(ByteSpan runs, std::uint64_t startVcn, std::vector<NtfsRun>& out);

struct NtfsVcnMapping {
  bool found = false;
  std::uint64_t lcn = 0;  // 0 in a hole
  std::uint64_t left = 0;  // clusters of the run from the VCN on
  bool sparse = false;
};

// Maps a VCN through the run list of one non-resident attribute, walking
// its entries from the first one. Not found for a VCN outside the
// attribute's VCN range or behind its last run.
NtfsVcnMapping MapVcn(const NtfsAttribute& attribute, std::uint64_t vcn);

// Maps a VCN through decoded runs sorted by VCN.
NtfsVcnMapping MapVcn(const std::vector<NtfsRun>& runs, std::uint64_t vcn);

}  // namespace relictor
