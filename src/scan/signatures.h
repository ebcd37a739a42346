#pragma once
// Recognition of files by the bytes at the start of a cluster, and the
// length of a file that starts there, worked out by walking its structure
// or by searching for its end marker in the clusters that follow. Files are
// taken to be contiguous. The same detector rates deleted files.

#include <cstddef>
#include <cstdint>
#include <string>

#include "volume/endian.h"

namespace relictor {

class CDriver;
class CDirEntry;

// Type codes index this table of names. Codes 0 to 24 are the original
// table; the ones behind it were added later and keep their place.
inline constexpr int kTypeNameCount = 37;
extern const char* const kTypeNames[kTypeNameCount];
inline constexpr std::uint16_t kNoType = 0xFFFF;

enum TypeCode : std::uint16_t {
  kTypeBmp = 0, kTypeJpg = 1, kTypeGif = 2, kTypeTga = 3, kTypeTiff = 4, kTypePcx = 5, kTypePng = 6,
  kTypeOffice = 7, kTypeDoc = 8, kTypeXls = 9, kTypePpt = 10, kTypeVsd = 11, kTypeMdb = 12, kTypePdf = 13,
  kTypeDbf = 14, kTypeHtm = 15, kTypeHtml = 16, kTypeAvi = 17, kTypeWav = 18, kTypeCdr = 19, kTypeMid = 20,
  kTypeMov = 21, kTypeZip = 22, kTypeRar = 23, kTypeTar = 24,
  // Recognised by their own signatures.
  kTypeMp3 = 25, kTypeOgg = 26, kTypeMp4 = 27,
  // Named by what the MP4 rule reads (the file's brand).
  kTypeM4a = 28,
  kTypeMpg = 29,
  // Zip archives named by their content.
  kTypeDocx = 30, kTypeXlsx = 31, kTypePptx = 32, kTypeOdt = 33, kTypeOds = 34, kTypeOdp = 35, kTypeEpub = 36,
};

// The type whose signature starts `cluster` (only its first 263 bytes are
// looked at), or kNoType.
std::uint16_t IdentifySignature(ByteSpan cluster);

// Whether a cluster starts with a signature that ordinary file data hardly
// ever holds by chance. The tests of a few types (TGA, PCX, DBF) rest on a
// handful of bits that the inside of a photo or an archive meets now and
// then; such a start must not end a file whose own structure says where it
// ends, so the end-marker searches stop only at strong starts.
bool StartsWithStrongSignature(ByteSpan cluster);

struct LostFileGuess {
  bool found = false;    // a length rule succeeded
  // The table name of the recognised type, set even when its rule fails;
  // a compound document is named "DOC", "XLS", "PPT", "VSD" or "MSCOMP"
  // once its directory is reached. Empty when nothing was recognised.
  std::string typeName;
  std::uint64_t length = 0;  // bytes from the start of the cluster
};

// Runs the length rule of the type that starts at `cluster`, whose bytes
// are already in the volume's cluster buffer. A length is only taken when
// the file fits in the clusters from `cluster` to the end of the scan
// range: a larger one comes from a damaged header or a file that is not
// all there.
LostFileGuess DetectLostFile(CDriver& volume, std::uint64_t cluster);
// Reads `cluster` into the volume's cluster buffer, then DetectLostFile.
LostFileGuess ScanForLostFile(CDriver& volume, std::uint64_t cluster);

// How likely a deleted file that starts at `firstCluster` is to come back
// whole: 1 "Excellent", 2 "Good" or 3 "Poor"; 2 without a file.
std::uint32_t RateDeletedFile(CDriver& volume, std::uint64_t firstCluster, CDirEntry* file);

// Bytes of consecutive clusters, read one cluster at a time through the
// volume's cluster buffer (so only clusters inside the volume's scan range
// can be read).
//
// A cluster is loaded only when one of its bytes is needed: an operation
// that ends exactly at a cluster boundary leaves the stream at offset 0 of
// the next cluster without reading it, so a file that ends at the last
// cluster of the scan range can still be measured.
class ClusterStream {
 public:
  explicit ClusterStream(CDriver& volume) : volume_(volume) {}
  // Starts at offset 0 of cluster k; false if it cannot be loaded.
  bool Begin(std::uint64_t cluster);
  // Advances n bytes, loading the cluster reached; -1 on failure, else n.
  std::int64_t Skip(std::uint64_t n);
  // Copies n bytes and advances; 0 on failure, else n.
  std::uint64_t Read(void* buffer, std::uint64_t n);
  // Searches the pattern from the current position to the end of the
  // cluster, then in the following clusters; a match must lie inside one
  // cluster. Returns the bytes from the starting point to the end of the
  // match, or -1 when a cluster cannot be loaded or the next cluster starts
  // with a recognised signature. With `ignoreCase` every pattern byte but
  // the first is compared with the data byte lowered (A to Z only), so the
  // pattern must be written in lower case.
  std::int64_t FindPattern(const std::uint8_t* pattern, std::size_t length, bool ignoreCase);

  // The bytes from the current position to the end of the loaded cluster,
  // stepping into the next cluster first when the position is at the end
  // of one; empty when that cluster cannot be loaded. Walks that look at
  // every byte work on the window and then Advance() over what they used.
  ByteSpan Window();
  void Advance(std::size_t n) { offset_ += n; }

  std::uint64_t Cluster() const { return cluster_; }
  std::uint64_t Offset() const { return offset_; }

  // From now on every cluster this stream loads is taken from the range's
  // allowance for walks that cannot be remembered; a load fails once it is
  // spent.
  void DrawOnAllowance() { allowance_ = true; }

  // The size of a cluster as the stream sees it: the volume's bytes per
  // cluster when its geometry and buffer agree, else 0 (nothing can be
  // read).
  static std::uint64_t ClusterSize(const CDriver& volume);

 private:
  bool Load();
  bool StepOverBoundary();

  CDriver& volume_;
  std::uint64_t cluster_ = 0;
  std::uint64_t offset_ = 0;
  bool loaded_ = false;  // the cluster buffer holds cluster_
  bool valid_ = false;   // Begin succeeded and no load has failed since
  bool allowance_ = false;
};

}  // namespace relictor
