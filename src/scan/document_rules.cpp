// Length rules of archives and documents: PDF documents up to their last
// end marker, zip archives up to their end record (with the name of the
// document kind they hold), RAR archives and HTML pages by their end marker.

#include <algorithm>
#include <array>
#include <cstring>
#include <string>
#include <vector>

#include "scan/identify.h"
#include "scan/length_rules.h"
#include "scan/rule_support.h"
#include "volume/driver.h"

namespace relictor::rules {


namespace {

// Looks for `pattern` from offset `from` up to `from + window` (and never
// past the range), one cluster at a time; a match may straddle two
// clusters. The search gives up at a later cluster that starts another
// file, and, with `zeroClusterEnds`, at a cluster of zeros, which no file
// that goes on would hold. On a match `end` is the offset behind it.
bool SearchForward(FileBytes& f, std::uint64_t from, const char* pattern, std::size_t n, std::uint64_t window,
                   bool zeroClusterEnds, std::uint64_t& end) {
  const std::uint64_t cluster = f.ClusterSize();
  if (cluster == 0 || n == 0 || from > f.Limit()) return false;
  const std::uint64_t stop = window > f.Limit() - from ? f.Limit() : from + window;
  std::vector<std::uint8_t> buffer(static_cast<std::size_t>(cluster) + n);
  std::size_t carried = 0;  // bytes of the previous chunk kept for a straddling match
  std::uint64_t pos = from;
  while (pos < stop) {
    const std::uint64_t chunk = std::min(stop - pos, cluster - pos % cluster);
    std::uint8_t* data = buffer.data() + carried;
    if (!f.Read(pos, data, chunk)) return false;
    if (pos % cluster == 0 && pos != 0 && chunk == cluster) {
      const ByteSpan whole(data, static_cast<std::size_t>(chunk));
      if (StartsWithStrongSignature(whole)) return false;
      if (zeroClusterEnds && std::all_of(whole.begin(), whole.end(), [](std::uint8_t b) { return b == 0; })) {
        return false;
      }
    }
    const std::size_t have = carried + static_cast<std::size_t>(chunk);
    const auto* hit = std::search(buffer.data(), buffer.data() + have, pattern, pattern + n,
                                  [](std::uint8_t a, char b) { return a == static_cast<std::uint8_t>(b); });
    if (hit != buffer.data() + have) {
      const std::uint64_t at = pos - carried + static_cast<std::uint64_t>(hit - buffer.data());
      end = at + n;
      return true;
    }
    carried = std::min(n - 1, have);
    std::memmove(buffer.data(), buffer.data() + have - carried, carried);
    pos += chunk;
  }
  return false;
}

// The line end behind an end marker: CR, LF or CR LF.
std::uint64_t WithLineEnd(FileBytes& f, std::uint64_t at) {
  std::uint8_t c = 0;
  if (at >= f.Limit() || !f.Read(at, &c, 1)) return at;
  if (c == '\n') return at + 1;
  if (c != '\r') return at;
  if (at + 1 < f.Limit() && f.Read(at + 1, &c, 1) && c == '\n') return at + 2;
  return at + 1;
}

// The length a linearized document declares ("/L" of its linearization
// dictionary in the first kilobyte), or 0.
std::uint64_t LinearizedLength(FileBytes& f) {
  std::array<std::uint8_t, 1024> head{};
  const std::uint64_t n = std::min<std::uint64_t>(head.size(), std::min(f.Limit(), f.ClusterSize()));
  if (!f.Read(0, head.data(), n)) return 0;
  const auto* begin = head.data();
  const auto* endOfHead = head.data() + n;
  const char kTag[] = "/Linearized";
  const auto* at = std::search(begin, endOfHead, kTag, kTag + sizeof kTag - 1,
                               [](std::uint8_t a, char b) { return a == static_cast<std::uint8_t>(b); });
  if (at == endOfHead) return 0;
  // The dictionary closes with ">>"; "/L" must be the key itself, not the
  // start of "/Linearized" or of another key.
  for (const auto* p = at + sizeof kTag - 1; p + 3 < endOfHead; ++p) {
    if (p[0] == '>' && p[1] == '>') return 0;
    if (p[0] == '/' && p[1] == 'L' && (p[2] == ' ' || p[2] == '\r' || p[2] == '\n')) {
      std::uint64_t value = 0;
      const auto* d = p + 3;
      while (d < endOfHead && *d == ' ') ++d;
      int digits = 0;
      for (; d < endOfHead && *d >= '0' && *d <= '9' && digits < 15; ++d, ++digits) value = value * 10 + (*d - '0');
      return digits > 0 ? value : 0;
    }
  }
  return 0;
}

}  // namespace

bool PdfLength(CDriver& volume, std::uint64_t k, std::uint64_t& length, std::string& /*name*/) {
  // Incremental updates append a new body, cross-reference section and
  // end marker; they are rarely far apart. Further markers are looked for
  // within this window behind the last one, so that old data in the free
  // clusters behind a document is not taken for an update of it.
  constexpr std::uint64_t kUpdateWindow = 256 * 1024;
  constexpr std::uint64_t kMaxUpdates = 100000;
  FileBytes f(volume, k);
  std::uint64_t end = 0;
  // The first end marker is looked for as far as the range goes, up to
  // the start of another file or a cluster of zeros (free space).
  if (!SearchForward(f, 5, "%%EOF", 5, f.Limit(), true, end)) return false;
  // A linearized document ends its first page with an end marker of its
  // own; the length it declares leads past that to the real end.
  const std::uint64_t declared = LinearizedLength(f);
  if (declared > end && declared <= f.Limit() && declared >= 7) {
    std::uint8_t tail[7];
    if (f.Read(declared - 7, tail, sizeof tail)) {
      for (std::uint64_t eol = 0; eol <= 2; ++eol) {
        if (std::memcmp(tail + 2 - eol, "%%EOF", 5) == 0) {
          end = declared - eol;
          break;
        }
      }
    }
  }
  for (std::uint64_t updates = 0; updates < kMaxUpdates; ++updates) {
    std::uint64_t next = 0;
    if (!SearchForward(f, end, "%%EOF", 5, kUpdateWindow, true, next)) break;
    end = next;
  }
  length = WithLineEnd(f, end);
  return true;
}

namespace {

// A zip archive whose end-of-central-directory record starts at
// `endRecord`: the length with the archive's comment, and the name of the
// document kind the archive holds ("DOCX", "XLSX", "PPTX", "ODT", "ODS",
// "ODP", "EPUB"), left unchanged for a plain archive. False when the
// record cannot be read; `length` and `name` are then left as they are.
bool ZipEnd(CDriver& volume, std::uint64_t k, std::uint64_t endRecord, std::uint64_t& length, std::string& name) {
  FileBytes f(volume, k);
  std::uint8_t record[22];
  if (!f.Read(endRecord, record, sizeof record) || le32(ByteSpan(record), 0) != 0x06054B50) return false;
  const std::uint64_t recordEnd = endRecord + sizeof record;
  const std::uint16_t comment = le16(ByteSpan(record), 20);
  // The archive's comment is part of the file when the range holds it.
  length = comment <= f.Limit() - recordEnd ? recordEnd + comment : recordEnd;

  // Open document formats and e-books store "mimetype" first, uncompressed.
  std::uint8_t local[30];
  if (!f.Read(0, local, sizeof local)) return true;
  const std::uint16_t nameLength = le16(ByteSpan(local), 26);
  const std::uint16_t extraLength = le16(ByteSpan(local), 28);
  char first[32] = {};
  if (nameLength == 8 && f.Read(30, first, 8) && std::memcmp(first, "mimetype", 8) == 0) {
    const std::uint32_t stored = le32(ByteSpan(local), 18);
    char mime[64] = {};
    if (le16(ByteSpan(local), 8) != 0 || stored >= sizeof mime ||
        !f.Read(30 + 8 + std::uint64_t{extraLength}, mime, stored)) {
      return true;
    }
    struct Kind {
      const char* mime;
      std::uint16_t code;
    };
    static constexpr Kind kKinds[] = {{"application/vnd.oasis.opendocument.text", kTypeOdt},
                                      {"application/vnd.oasis.opendocument.spreadsheet", kTypeOds},
                                      {"application/vnd.oasis.opendocument.presentation", kTypeOdp},
                                      {"application/epub+zip", kTypeEpub}};
    for (const Kind& kind : kKinds) {
      if (std::strlen(kind.mime) == stored && std::memcmp(mime, kind.mime, stored) == 0) name = kTypeNames[kind.code];
    }
    return true;
  }

  // Office Open XML documents list "[Content_Types].xml" and keep their
  // parts under "word/", "xl/" or "ppt/". The central directory names
  // every member, whichever comes first in the archive.
  const std::uint64_t cdSize = le32(ByteSpan(record), 12);
  const std::uint64_t cdOffset = le32(ByteSpan(record), 16);
  if (cdOffset > endRecord || cdSize > endRecord - cdOffset) return true;
  bool contentTypes = false;
  std::uint16_t kind = kNoType;
  for (std::uint64_t pos = cdOffset; pos + 46 <= cdOffset + cdSize && !(contentTypes && kind != kNoType);) {
    std::uint8_t entry[46];
    if (!f.Read(pos, entry, sizeof entry) || le32(ByteSpan(entry), 0) != 0x02014B50) break;
    const std::uint16_t n = le16(ByteSpan(entry), 28);
    char member[20] = {};
    const std::uint64_t shown = std::min<std::uint64_t>(n, sizeof member - 1);
    if (!f.Read(pos + 46, member, shown)) break;
    if (n == 19 && std::memcmp(member, "[Content_Types].xml", 19) == 0) contentTypes = true;
    if (kind == kNoType) {
      if (std::strncmp(member, "word/", 5) == 0) kind = kTypeDocx;
      if (std::strncmp(member, "xl/", 3) == 0) kind = kTypeXlsx;
      if (std::strncmp(member, "ppt/", 4) == 0) kind = kTypePptx;
    }
    pos += 46 + std::uint64_t{n} + le16(ByteSpan(entry), 30) + le16(ByteSpan(entry), 32);
  }
  if (contentTypes && kind != kNoType) name = kTypeNames[kind];
  return true;
}

}  // namespace

bool ZipLength(CDriver& volume, std::uint64_t k, std::uint64_t& length, std::string& name) {
  ClusterStream s(volume);
  // The end record counts without its comment, unless the record can be
  // read: then the comment counts too, and the archive's members may tell
  // the kind of document it is.
  if (!SearchRule(s, k, 4, "PK\x05\x06", 4, false, length)) return false;
  const std::uint64_t record = length - 4;
  length += 18;
  ZipEnd(volume, k, record, length, name);
  return true;
}

bool RarLength(CDriver& volume, std::uint64_t k, std::uint64_t& length, std::string& /*name*/) {
  ClusterStream s(volume);
  return SearchRule(s, k, 7, "\xC4\x3D\x7B\x00\x40\x07\x00", 7, false, length);
}

bool HtmlLength(CDriver& volume, std::uint64_t k, std::uint64_t& length, std::string& /*name*/) {
  ClusterStream s(volume);
  return SearchRule(s, k, 6, "</html>", 7, true, length);
}

}  // namespace relictor::rules
