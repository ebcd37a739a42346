#include "scan/signatures.h"

#include <string>

#include "model/entry.h"
#include "scan/cluster_stream.h"
#include "scan/length_rules.h"
#include "scan/walk_trail.h"
#include "volume/driver.h"
#include "volume/text.h"

namespace relictor {
LostFileGuess DetectLostFile(CDriver& volume, std::uint64_t cluster) {
  LostFileGuess guess;
  if (ClusterStream::ClusterSize(volume) == 0) return guess;
  const std::uint16_t code = IdentifySignature(LoadedCluster(volume));
  if (code >= kTypeNameCount) return guess;
  guess.typeName = kTypeNames[code];
  std::uint64_t length = 0;
  const rules::LengthRule measure = rules::RuleFor(code);
  // A type without a rule is recognised, but its length cannot be told.
  const bool measured = measure != nullptr && measure(volume, cluster, length, guess.typeName);
  // A length that reaches past the scan range belongs to a damaged header
  // or to a file that is not all there; either way it is not a find.
  if (!measured || length > BytesToRangeEnd(volume, cluster)) return guess;
  guess.found = true;
  guess.length = length;
  return guess;
}

LostFileGuess ScanForLostFile(CDriver& volume, std::uint64_t cluster) {
  if (!volume.ReadCluster(cluster)) return {};
  return DetectLostFile(volume, cluster);
}

std::uint32_t RateDeletedFile(CDriver& volume, std::uint64_t firstCluster, CDirEntry* file) {
  if (file == nullptr) return kStatusGood;
  const std::string type = AsciiUpper(file->GetTypeText());
  // Many deleted entries may name the same first cluster (a damaged folder
  // easily does); the detector's answer for a cluster is remembered so
  // that each is measured once.
  WalkMemo& memo = MemoOf(volume);
  LostFileGuess guess;
  if (const RememberedGuess* known = memo.FindGuess(firstCluster)) {
    guess.found = known->found;
    guess.typeName = known->typeName;
    guess.length = known->length;
  } else {
    guess = ScanForLostFile(volume, firstCluster);
    memo.RememberGuess(firstCluster, RememberedGuess{guess.found, guess.typeName, guess.length});
  }
  if (guess.found) {
    return AsciiUpper(guess.typeName) == type && guess.length == file->GetSize() ? kStatusExcellent : kStatusGood;
  }
  for (const char* name : kTypeNames) {
    if (type == name) return kStatusPoor;
  }
  return kStatusGood;
}

}  // namespace relictor

