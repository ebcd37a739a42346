// Length rules of images: BMP by its header, JPEG,
// GIF and PCX by walking their structure, TGA and PNG by their end marker.

#include <cstdint>
#include <optional>
#include <string>

#include "scan/identify.h"
#include "scan/length_rules.h"
#include "scan/rule_support.h"
#include "scan/walk_trail.h"
#include "volume/driver.h"

namespace relictor::rules {
namespace {

// Sane maxima for walks that real files never come near; they only keep a
// hostile cluster from costing more than the scan range already allows.
constexpr std::uint64_t kMaxHuffmanTablesPerSegment = 64;

// The marker walk of a JPEG. Every marker takes at least three bytes, so
// the walk ends at the end of the scan range at the latest; the state at a
// marker is whether its FF prefix was already consumed.
WalkEnd JpegWalk(ClusterStream& s, WalkTrail& trail) {
  RuleInput in(s);
  if (!in.Skip(2)) return {};
  bool prefixConsumed = false;
  for (;;) {
    if (const std::optional<WalkEnd> known = trail.At(prefixConsumed ? 1 : 0)) return *known;
    if (!prefixConsumed && !in.Skip(1)) return {};
    prefixConsumed = false;
    std::uint8_t marker = 0;
    if (!in.Byte(marker)) return {};
    if (marker == 0xD9) return {};  // an image without any scan
    if (marker == 0xDA) {
      std::uint64_t searched = 0;
      if (!in.Find("\xFF\xD9", 2, false, searched)) return {};
      return EndHere(s);
    }
    std::uint16_t size = 0;
    if (!in.BigEndian16(size)) return {};
    if (marker == 0xC4 && size >= 208) {
      // A segment that holds several Huffman tables is walked table by
      // table up to the FF of the next marker, which is then consumed.
      std::uint8_t tableId = 0;
      if (!in.Byte(tableId)) return {};
      for (std::uint64_t tables = 0; tableId < 0xFF; ++tables) {
        if (tables >= kMaxHuffmanTablesPerSegment) return {};
        std::uint8_t counts[16];
        if (!in.Bytes(counts, sizeof counts)) return {};
        std::uint64_t symbols = 0;
        for (std::uint8_t c : counts) symbols += c;
        if (!in.Skip(symbols) || !in.Byte(tableId)) return {};
      }
      prefixConsumed = true;
      continue;
    }
    // A segment length below 2 cannot even cover its own length field.
    if (size < 2 || !in.Skip(size - 2u)) return {};
  }
}

// GIF parser states at which a walk can be resumed.
constexpr std::uint64_t kGifBlock = 0;     // before a block introducer
constexpr std::uint64_t kGifSubBlock = 1;  // before a sub-block size byte

// Walks GIF data sub-blocks (a size byte, then that many bytes) up to the
// closing 0. False when a read fails or when an earlier walk's end was met
// (then in `known`).
bool GifSubBlocks(RuleInput& in, WalkTrail& trail, std::optional<WalkEnd>& known) {
  for (;;) {
    if ((known = trail.At(kGifSubBlock))) return false;
    std::uint8_t size = 0;
    if (!in.Byte(size)) return false;
    if (size == 0) return true;
    if (!in.Skip(size)) return false;
  }
}

std::uint64_t GifColourTableBytes(std::uint8_t packed) {
  return (packed & 0x80) ? 3u * (1u << ((packed & 7) + 1)) : 0;
}

WalkEnd GifWalk(ClusterStream& s, RuleInput& in, WalkTrail& trail) {
  std::optional<WalkEnd> known;
  for (;;) {
    if ((known = trail.At(kGifBlock))) return *known;
    std::uint8_t x = 0;
    if (!in.Byte(x)) return {};
    if (x == 0x21) {
      std::uint8_t label = 0;
      if (!in.Byte(label)) return {};
      if (label == 0xF9) {
        std::uint8_t terminator = 0xFF;
        if (!in.Skip(5) || !in.Byte(terminator) || terminator != 0) return {};
      } else if (!GifSubBlocks(in, trail, known)) {
        return known ? *known : WalkEnd{};
      }
    } else if (x == 0x2C) {
      std::uint8_t packed = 0;
      if (!in.Skip(8) || !in.Byte(packed)) return {};
      if (!in.Skip(GifColourTableBytes(packed)) || !in.Skip(1)) return {};
      if (!GifSubBlocks(in, trail, known)) return known ? *known : WalkEnd{};
    } else if (x == 0x3B) {
      return EndHere(s);
    }
    // Any other byte is passed over.
  }
}

// How a PCX decode stopped (the kind of its end): on a failed read, with
// every byte decoded, or on a run longer than what was left (the run's count
// is added to the kind).
constexpr std::uint32_t kPcxRanOut = 0;
constexpr std::uint32_t kPcxDone = 1;
constexpr std::uint32_t kPcxOvershoot = 2;

// Decodes `left` bytes of run-length data. A token (a literal byte, or a
// run byte and its data byte) is parsed the same way whatever is left to
// decode, so walks that meet at a token boundary decode the same tokens
// from there; the memo holds how many bytes the tokens up to an earlier
// walk's stop decoded, which a later walk can take whole when it still has
// at least that many to go.
WalkEnd PcxDecode(ClusterStream& s, RuleInput& in, WalkTrail& trail, std::uint64_t left) {
  std::uint64_t decoded = 0;
  while (left > 0) {
    // Each pass decodes the tokens that lie whole in one cluster; the
    // first token boundary of every cluster is a point of the walk.
    const ByteSpan window = s.Window();
    if (window.empty()) return WalkEnd{false, s.Cluster(), s.Offset(), decoded, kPcxRanOut};
    if (const std::optional<WalkEnd> known = trail.At(0, decoded)) {
      const std::uint64_t c = known->counted;
      if (c == left) return WalkEnd{true, known->cluster, known->offset, decoded + c, kPcxDone};
      if (c < left) {
        // This walk reaches the same stop with more to decode: it fails
        // there as the earlier one did, or decodes on from there.
        const WalkEnd sameStop{false, known->cluster, known->offset, decoded + c, known->kind};
        if (known->kind == kPcxRanOut) return sameStop;
        if (known->kind >= kPcxOvershoot && known->kind - kPcxOvershoot > left - c) return sameStop;
        trail.GoesOnFromHit();
        if (!MoveTo(s, known->cluster, known->offset)) return WalkEnd{false, known->cluster, known->offset, decoded + c, kPcxRanOut};
        left -= c;
        decoded += c;
        continue;
      }
      // The earlier walk went further than this one may: decode here.
    }
    const std::uint8_t* const begin = window.data();
    const std::uint8_t* const end = begin + window.size();
    const std::uint8_t* p = begin;
    while (left > 0 && p != end) {
      const std::uint8_t c = *p;
      if (c < 0xC0) {
        ++p;
        --left;
        ++decoded;
        continue;
      }
      if (end - p < 2) break;  // a run whose data byte is in the next cluster
      const std::uint64_t count = c & 0x3Fu;
      if (count > left) {
        s.Advance(static_cast<std::size_t>(p - begin));
        return WalkEnd{false, s.Cluster(), s.Offset(), decoded, kPcxOvershoot + static_cast<std::uint32_t>(count)};
      }
      p += 2;
      left -= count;
      decoded += count;
    }
    s.Advance(static_cast<std::size_t>(p - begin));
    if (left == 0 || p == end) continue;
    // The run that straddles two clusters.
    const WalkEnd here{false, s.Cluster(), s.Offset(), decoded, kPcxRanOut};
    std::uint8_t c = 0;
    std::uint8_t data = 0;
    if (!in.Byte(c) || !in.Byte(data)) return here;
    const std::uint64_t count = c & 0x3Fu;
    if (count > left) return WalkEnd{false, here.cluster, here.offset, decoded, kPcxOvershoot + static_cast<std::uint32_t>(count)};
    left -= count;
    decoded += count;
  }
  return WalkEnd{true, s.Cluster(), s.Offset(), decoded, kPcxDone};
}

}  // namespace

bool BmpLength(CDriver& volume, std::uint64_t k, std::uint64_t& length, std::string& /*name*/) {
  ClusterStream s(volume);
  if (!s.Begin(k) || !IsBmpHeader(LoadedCluster(volume))) return false;
  length = le32(LoadedCluster(volume), 2);
  return true;
}


bool JpegLength(CDriver& volume, std::uint64_t k, std::uint64_t& length, std::string& /*name*/) {
  ClusterStream s(volume);
  s.DrawOnAllowance();  // see GifRule
  if (!s.Begin(k)) return false;
  WalkTrail trail(volume, s, kWalkJpeg);
  const WalkEnd end = JpegWalk(s, trail);
  trail.End(end);
  return LengthOf(volume, k, end, length);
}


bool GifLength(CDriver& volume, std::uint64_t k, std::uint64_t& length, std::string& /*name*/) {
  ClusterStream s(volume);
  // Walks meet only when they parse the same bytes alike. Over data that
  // repeats, walks that start at different places of the repetition can
  // stay out of step for good, each as long as the range; there can be as
  // many of them as the repetition has bytes. Their loads therefore come
  // from the range's allowance too, as the JPEG and PCX walks' do.
  s.DrawOnAllowance();
  if (!s.Begin(k)) return false;
  RuleInput in(s);
  if (!in.Skip(13 + GifColourTableBytes(le8(LoadedCluster(volume), 10)))) return false;
  WalkTrail trail(volume, s, kWalkGif);
  const WalkEnd end = GifWalk(s, in, trail);
  trail.End(end);
  return LengthOf(volume, k, end, length);
}


bool PcxLength(CDriver& volume, std::uint64_t k, std::uint64_t& length, std::string& /*name*/) {
  ClusterStream s(volume);
  // A remembered decode helps a later one only when that one has at least
  // as much left to decode, and decodes out of step never meet (see
  // GifRule); their loads come from the range's allowance, so that many
  // such headers cannot add up.
  s.DrawOnAllowance();
  if (!s.Begin(k)) return false;
  const ByteSpan head = LoadedCluster(volume);
  const std::int64_t rows = static_cast<std::int64_t>(le16(head, 10)) - le16(head, 6) + 1;
  const auto planes = static_cast<std::int8_t>(le8(head, 65));
  const std::int64_t left = rows * le16(head, 66) * planes;
  // A negative count (rows or planes below zero) could never be decoded to
  // its end; the image is taken as broken rather than read to the end of
  // the scan range.
  if (left < 0) return false;
  const bool paletteImage = le8(head, 1) == 5 && le8(head, 3) == 8 && planes == 1;
  RuleInput in(s);
  if (!in.Skip(128)) return false;
  WalkTrail trail(volume, s, kWalkPcx);
  const WalkEnd end = PcxDecode(s, in, trail, static_cast<std::uint64_t>(left));
  trail.End(end);
  if (!LengthOf(volume, k, end, length)) return false;
  // A 256-colour image keeps its palette behind the pixel data: a 0x0C
  // byte and 768 colour bytes. Without them the recovered image would lose
  // its colours, so they belong to the file when they are there. (A stop
  // taken from an earlier walk leaves the stream elsewhere, so it is moved
  // to the end first.)
  if (paletteImage && (s.Cluster() == end.cluster && s.Offset() == end.offset ? true : MoveTo(s, end.cluster, end.offset))) {
    ClusterStream probe = s;
    RuleInput tail(probe);
    std::uint8_t mark = 0;
    if (tail.Byte(mark) && mark == 0x0C && tail.Skip(768)) length += 769;
  }
  return true;
}


bool TgaLength(CDriver& volume, std::uint64_t k, std::uint64_t& length, std::string& /*name*/) {
  ClusterStream s(volume);
  return SearchRule(s, k, 3, "UEVISION-XFILE.\0", 16, false, length);
}

bool PngLength(CDriver& volume, std::uint64_t k, std::uint64_t& length, std::string& /*name*/) {
  ClusterStream s(volume);
  return SearchRule(s, k, 8, "\0\0\0\0IEND\xAE\x42\x60\x82", 12, false, length);
}

}  // namespace relictor::rules
