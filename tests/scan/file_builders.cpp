#include "scan/file_builders.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <stdexcept>

#include "support/test_support.h"
#include "volume/partition_table.h"

namespace relictor::test {
namespace {

void Put16(Bytes& b, std::size_t at, std::uint32_t v) {
  b[at] = static_cast<std::uint8_t>(v);
  b[at + 1] = static_cast<std::uint8_t>(v >> 8);
}

void Put32(Bytes& b, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v >> (8 * i));
}

void Append16(Bytes& b, std::uint32_t v) {
  b.push_back(static_cast<std::uint8_t>(v));
  b.push_back(static_cast<std::uint8_t>(v >> 8));
}

void Append32(Bytes& b, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

void AppendText(Bytes& b, const char* text, std::size_t n) { b.insert(b.end(), text, text + n); }

void AppendBytes(Bytes& b, const Bytes& more) { b.insert(b.end(), more.begin(), more.end()); }

std::uint32_t Ceil(std::uint64_t a, std::uint64_t b) { return static_cast<std::uint32_t>((a + b - 1) / b); }

constexpr std::uint32_t kFree = 0xFFFFFFFF;
constexpr std::uint32_t kEnd = 0xFFFFFFFE;
constexpr std::uint32_t kFatMark = 0xFFFFFFFD;
constexpr std::uint32_t kDifatMark = 0xFFFFFFFC;

}  // namespace

std::uint32_t Crc32(const std::uint8_t* data, std::size_t size, std::uint32_t crc) {
  return relictor::Crc32(data, size, crc);
}

// ---------------------------------------------------------------------------

Bytes BuildCompoundDocument(const CompoundOptions& o, CompoundLayout* layoutOut) {
  if (o.shift < 7 || o.shift > 16) throw std::invalid_argument("sector shift");
  const std::uint32_t S = 1u << o.shift;
  const std::uint32_t perFat = S / 4;
  const std::uint32_t perDirectory = S / 128;

  struct Stream {
    std::string name;
    std::uint64_t size;
    std::uint32_t first = kEnd;
  };
  std::vector<Stream> streams;
  for (unsigned i = 0; i < o.fillerStreams; ++i) streams.push_back({"Filler" + std::to_string(i), 4096});
  streams.push_back({o.streamName, o.streamSize});

  const std::uint32_t entries = 1 + static_cast<std::uint32_t>(streams.size());
  const std::uint32_t directorySectors = Ceil(entries, perDirectory);
  std::uint32_t dataSectors = 0;
  for (const Stream& s : streams) dataSectors += Ceil(s.size, S);

  // The allocation sectors must cover themselves and the index sectors.
  std::uint32_t fat = 1, difat = 0;
  for (;;) {
    std::uint32_t total = directorySectors + dataSectors + fat + difat;
    std::uint32_t needFat = Ceil(total, perFat);
    std::uint32_t needDifat = needFat > 109 ? Ceil(needFat - 109, perFat - 1) : 0;
    if (needFat == fat && needDifat == difat) break;
    fat = needFat;
    difat = needDifat;
  }
  const std::uint32_t total = directorySectors + dataSectors + fat + difat;

  // Sector numbers: [first directory sector if split] data [directory] FAT DIFAT.
  std::vector<std::uint32_t> directory;
  std::uint32_t next = 0;
  if (o.splitDirectory) directory.push_back(next++);
  for (Stream& s : streams) {
    s.first = next;
    next += Ceil(s.size, S);
  }
  while (directory.size() < directorySectors) directory.push_back(next++);
  const std::uint32_t firstFat = next;
  next += fat;
  const std::uint32_t firstDifat = next;
  next += difat;

  std::vector<std::uint32_t> table(static_cast<std::size_t>(fat) * perFat, kFree);
  for (const Stream& s : streams) {
    std::uint32_t n = Ceil(s.size, S);
    for (std::uint32_t i = 0; i < n; ++i) table[s.first + i] = i + 1 < n ? s.first + i + 1 : kEnd;
  }
  for (std::size_t i = 0; i < directory.size(); ++i) {
    table[directory[i]] = i + 1 < directory.size() ? directory[i + 1] : kEnd;
  }
  for (std::uint32_t i = 0; i < fat; ++i) table[firstFat + i] = kFatMark;
  for (std::uint32_t i = 0; i < difat; ++i) table[firstDifat + i] = kDifatMark;

  Bytes file(static_cast<std::size_t>(S) * (1 + total), 0);
  auto sectorAt = [&](std::uint32_t sector) { return static_cast<std::size_t>(sector + 1) * S; };

  // Header.
  const std::uint8_t magic[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
  std::memcpy(file.data(), magic, 8);
  Put16(file, 24, 0x003E);
  Put16(file, 26, S == 4096 ? 4 : 3);
  Put16(file, 28, 0xFFFE);
  Put16(file, 30, o.shift);
  Put16(file, 32, 6);
  Put32(file, 40, S == 4096 ? directorySectors : 0);
  Put32(file, 44, fat);
  Put32(file, 48, directory.front());
  Put32(file, 56, 4096);
  Put32(file, 60, kEnd);
  Put32(file, 64, 0);
  Put32(file, 68, difat ? firstDifat : kEnd);
  Put32(file, 72, difat);
  for (std::uint32_t i = 0; i < 109; ++i) Put32(file, 76 + 4 * i, i < fat ? firstFat + i : kFree);

  // Index sectors for the allocation sectors beyond the first 109.
  std::uint32_t listed = std::min<std::uint32_t>(fat, 109);
  for (std::uint32_t d = 0; d < difat; ++d) {
    std::size_t at = sectorAt(firstDifat + d);
    for (std::uint32_t e = 0; e + 1 < perFat; ++e) {
      Put32(file, at + 4 * e, listed < fat ? firstFat + listed : kFree);
      if (listed < fat) ++listed;
    }
    Put32(file, at + 4 * (perFat - 1), d + 1 < difat ? firstDifat + d + 1 : kEnd);
  }

  // Allocation sectors.
  for (std::uint32_t i = 0; i < fat; ++i) {
    std::size_t at = sectorAt(firstFat + i);
    for (std::uint32_t e = 0; e < perFat; ++e) Put32(file, at + 4 * e, table[static_cast<std::size_t>(i) * perFat + e]);
  }

  // Stream data.
  for (std::size_t i = 0; i < streams.size(); ++i) {
    Bytes data = RandomBytes(static_cast<std::size_t>(streams[i].size), o.seed * 131 + i);
    std::copy(data.begin(), data.end(), file.begin() + static_cast<std::ptrdiff_t>(sectorAt(streams[i].first)));
  }

  // Directory: the root entry, then the streams, each the right sibling of
  // the one before; unused entries have no name and no links.
  auto entryAt = [&](std::uint32_t index) {
    return sectorAt(directory[index / perDirectory]) + 128 * (index % perDirectory);
  };
  for (std::uint32_t index = 0; index < directorySectors * perDirectory; ++index) {
    std::size_t at = entryAt(index);
    Put32(file, at + 68, kFree);
    Put32(file, at + 72, kFree);
    Put32(file, at + 76, kFree);
  }
  auto writeEntry = [&](std::uint32_t index, const std::string& name, std::uint8_t type, std::uint32_t start,
                        std::uint64_t size, std::uint32_t right, std::uint32_t child) {
    std::size_t at = entryAt(index);
    for (std::size_t i = 0; i < name.size() && i < 31; ++i) file[at + 2 * i] = static_cast<std::uint8_t>(name[i]);
    Put16(file, at + 64, static_cast<std::uint32_t>((name.size() + 1) * 2));
    file[at + 66] = type;
    file[at + 67] = 1;  // black
    Put32(file, at + 72, right);
    Put32(file, at + 76, child);
    Put32(file, at + 116, start);
    Put32(file, at + 120, static_cast<std::uint32_t>(size));
    Put32(file, at + 124, static_cast<std::uint32_t>(size >> 32));
  };
  writeEntry(0, "Root Entry", 5, kEnd, 0, kFree, 1);
  for (std::uint32_t i = 0; i < streams.size(); ++i) {
    std::uint32_t right = i + 1 < streams.size() ? i + 2 : kFree;
    writeEntry(i + 1, streams[i].name, 2, streams[i].first, streams[i].size, right, kFree);
  }

  if (layoutOut) {
    layoutOut->sectors = total;
    layoutOut->fatSectors = fat;
    layoutOut->difatSectors = difat;
    layoutOut->directorySectors = directorySectors;
    layoutOut->firstDirectory = directory.front();
    layoutOut->firstFatSector = firstFat;
    layoutOut->firstDifatSector = firstDifat;
  }
  return file;
}

// ---------------------------------------------------------------------------

namespace {

// A RAR block: its CRC covers everything from the type byte on.
Bytes RarBlock(std::uint8_t type, std::uint16_t flags, const Bytes& rest) {
  Bytes body;
  body.push_back(type);
  Append16(body, flags);
  Append16(body, static_cast<std::uint32_t>(2 + 5 + rest.size()));
  AppendBytes(body, rest);
  Bytes block;
  Append16(block, Crc32(body) & 0xFFFF);
  AppendBytes(block, body);
  return block;
}

}  // namespace

Bytes RarEndBlock() { return RarBlock(0x7B, 0x4000, {}); }

Bytes BuildRarArchive(const std::vector<RarMember>& members) {
  Bytes out = {'R', 'a', 'r', '!', 0x1A, 0x07, 0x00};
  AppendBytes(out, RarBlock(0x73, 0x0000, Bytes(6, 0)));
  for (const RarMember& m : members) {
    Bytes rest;
    Append32(rest, static_cast<std::uint32_t>(m.data.size()));  // packed size
    Append32(rest, static_cast<std::uint32_t>(m.data.size()));  // unpacked size
    rest.push_back(3);                                          // made on Unix
    Append32(rest, Crc32(m.data));
    Append32(rest, (45u << 25) | (6u << 21) | (1u << 16) | (12u << 11));  // 2025-06-01 12:00
    rest.push_back(29);                                                    // version needed
    rest.push_back(0x30);                                                  // stored
    Append16(rest, static_cast<std::uint32_t>(m.name.size()));
    Append32(rest, 0x81A4);  // -rw-r--r--
    AppendText(rest, m.name.data(), m.name.size());
    AppendBytes(out, RarBlock(0x74, 0x8000, rest));
    AppendBytes(out, m.data);
  }
  AppendBytes(out, RarEndBlock());
  return out;
}

// ---------------------------------------------------------------------------

namespace {

Bytes Chunk(const char id[4], const Bytes& data) {
  Bytes c;
  AppendText(c, id, 4);
  Append32(c, static_cast<std::uint32_t>(data.size()));
  AppendBytes(c, data);
  if (data.size() % 2) c.push_back(0);
  return c;
}

Bytes List(const char type[4], const Bytes& content) {
  Bytes data;
  AppendText(data, type, 4);
  AppendBytes(data, content);
  return Chunk("LIST", data);
}

Bytes Riff(const char form[4], const Bytes& content) {
  Bytes data;
  AppendText(data, form, 4);
  AppendBytes(data, content);
  return Chunk("RIFF", data);
}

}  // namespace

Bytes BuildAvi(unsigned frames, std::uint32_t frameBytes, std::uint64_t seed) {
  const std::uint32_t width = 16, height = frameBytes / (16 * 3) ? frameBytes / (16 * 3) : 1;
  Bytes avih(56, 0);
  Put32(avih, 0, 40000);  // microseconds per frame
  Put32(avih, 12, 0x10);  // has an index
  Put32(avih, 16, frames);
  Put32(avih, 24, 1);  // streams
  Put32(avih, 28, frameBytes);
  Put32(avih, 32, width);
  Put32(avih, 36, height);
  Bytes strh(56, 0);
  std::memcpy(strh.data(), "vids", 4);
  std::memcpy(strh.data() + 4, "DIB ", 4);
  Put32(strh, 20, 1);   // scale
  Put32(strh, 24, 25);  // rate
  Put32(strh, 32, frames);
  Put32(strh, 36, frameBytes);
  Bytes strf(40, 0);
  Put32(strf, 0, 40);
  Put32(strf, 4, width);
  Put32(strf, 8, height);
  Put16(strf, 12, 1);
  Put16(strf, 14, 24);
  Put32(strf, 20, frameBytes);
  Bytes strl = Chunk("strh", strh);
  AppendBytes(strl, Chunk("strf", strf));
  Bytes hdrl = Chunk("avih", avih);
  AppendBytes(hdrl, List("strl", strl));

  Bytes movi, index;
  std::uint32_t offset = 4;
  for (unsigned f = 0; f < frames; ++f) {
    Bytes frame = Chunk("00db", RandomBytes(frameBytes, seed + f));
    AppendText(index, "00db", 4);
    Append32(index, 0x10);
    Append32(index, offset);
    Append32(index, frameBytes);
    offset += static_cast<std::uint32_t>(frame.size());
    AppendBytes(movi, frame);
  }
  Bytes content = List("hdrl", hdrl);
  AppendBytes(content, List("movi", movi));
  AppendBytes(content, Chunk("idx1", index));
  return Riff("AVI ", content);
}

Bytes BuildRiff(const char formType[4], std::uint32_t dataBytes, std::uint64_t seed) {
  return Riff(formType, Chunk("data", RandomBytes(dataBytes, seed)));
}

// ---------------------------------------------------------------------------

std::vector<JpegSegment> JpegSegmentsBeforeScan(const Bytes& jpeg) {
  std::vector<JpegSegment> out;
  std::size_t i = 2;
  while (i + 4 <= jpeg.size() && jpeg[i] == 0xFF) {
    std::uint8_t marker = jpeg[i + 1];
    if (marker == 0xDA) break;
    std::size_t length = (static_cast<std::size_t>(jpeg[i + 2]) << 8) | jpeg[i + 3];
    out.push_back({marker, i, length + 2});
    i += length + 2;
  }
  return out;
}

Bytes MergeJpegHuffmanSegments(const Bytes& jpeg) {
  std::vector<JpegSegment> segments = JpegSegmentsBeforeScan(jpeg);
  if (segments.empty()) return jpeg;
  std::size_t scan = segments.back().offset + segments.back().size;
  Bytes tables;
  for (const JpegSegment& s : segments) {
    if (s.marker == 0xC4) tables.insert(tables.end(), jpeg.begin() + static_cast<std::ptrdiff_t>(s.offset + 4),
                                        jpeg.begin() + static_cast<std::ptrdiff_t>(s.offset + s.size));
  }
  Bytes out(jpeg.begin(), jpeg.begin() + 2);
  bool written = false;
  for (const JpegSegment& s : segments) {
    if (s.marker != 0xC4) {
      out.insert(out.end(), jpeg.begin() + static_cast<std::ptrdiff_t>(s.offset),
                 jpeg.begin() + static_cast<std::ptrdiff_t>(s.offset + s.size));
    } else if (!written) {
      std::size_t length = tables.size() + 2;
      out.push_back(0xFF);
      out.push_back(0xC4);
      out.push_back(static_cast<std::uint8_t>(length >> 8));
      out.push_back(static_cast<std::uint8_t>(length));
      AppendBytes(out, tables);
      written = true;
    }
  }
  out.insert(out.end(), jpeg.begin() + static_cast<std::ptrdiff_t>(scan), jpeg.end());
  return out;
}

Bytes InsertJpegComment(const Bytes& jpeg, std::size_t payload) {
  Bytes out(jpeg.begin(), jpeg.begin() + 2);
  std::size_t length = payload + 2;
  out.push_back(0xFF);
  out.push_back(0xFE);
  out.push_back(static_cast<std::uint8_t>(length >> 8));
  out.push_back(static_cast<std::uint8_t>(length));
  out.insert(out.end(), payload, 'c');
  out.insert(out.end(), jpeg.begin() + 2, jpeg.end());
  return out;
}

Bytes InsertPngChunk(const Bytes& png, std::size_t payload) {
  const std::size_t iend = png.size() - 12;
  Bytes chunk;
  chunk.push_back(static_cast<std::uint8_t>(payload >> 24));
  chunk.push_back(static_cast<std::uint8_t>(payload >> 16));
  chunk.push_back(static_cast<std::uint8_t>(payload >> 8));
  chunk.push_back(static_cast<std::uint8_t>(payload));
  Bytes typed = {'p', 'r', 'V', 't'};
  typed.insert(typed.end(), payload, 'p');
  std::uint32_t crc = Crc32(typed);
  AppendBytes(chunk, typed);
  for (int shift = 24; shift >= 0; shift -= 8) chunk.push_back(static_cast<std::uint8_t>(crc >> shift));
  Bytes out(png.begin(), png.begin() + static_cast<std::ptrdiff_t>(iend));
  AppendBytes(out, chunk);
  out.insert(out.end(), png.begin() + static_cast<std::ptrdiff_t>(iend), png.end());
  return out;
}

Bytes AppendTgaFooter(const Bytes& tga) {
  Bytes out = tga;
  out.insert(out.end(), 8, 0);
  AppendText(out, "TRUEVISION-XFILE.", 17);
  out.push_back(0);
  return out;
}

namespace {

std::string Offset10(std::size_t v) {
  std::string digits = std::to_string(v);
  return std::string(10 - std::min<std::size_t>(10, digits.size()), '0') + digits;
}

std::string PageText(std::size_t lines, const std::string& tag) {
  std::string text = "BT /F1 10 Tf 40 760 Td 12 TL\n";
  for (std::size_t i = 0; i < lines; ++i) {
    text += "(" + tag + " line " + std::to_string(i) + " of a document that spans several clusters) '\n";
  }
  return text + "ET\n";
}

}  // namespace

Bytes BuildPdf(const PdfOptions& options) {
  std::string pdf = "%PDF-1.4\n%\xE2\xE3\xCF\xD3\n";
  std::vector<std::size_t> offsets(8, 0);
  auto object = [&](int number, const std::string& body) {
    offsets[static_cast<std::size_t>(number)] = pdf.size();
    pdf += std::to_string(number) + " 0 obj\n" + body + "\nendobj\n";
  };
  auto stream = [](const std::string& data) {
    return "<< /Length " + std::to_string(data.size()) + " >>\nstream\n" + data + "\nendstream";
  };
  auto xref = [&](int first, int count) {
    std::string x = "xref\n" + std::to_string(first) + " " + std::to_string(count) + "\n";
    for (int i = first; i < first + count; ++i) {
      x += i == 0 ? std::string("0000000000 65535 f \n") : Offset10(offsets[static_cast<std::size_t>(i)]) + " 00000 n \n";
    }
    return x;
  };
  const bool linearized = options.linearizedBody > 0;
  std::size_t lengthField = 0;
  if (linearized) {
    // The declared length is written with a fixed width and filled in at
    // the end.
    offsets[7] = pdf.size();
    pdf += "7 0 obj\n<< /Linearized 1 /L ";
    lengthField = pdf.size();
    pdf += "0000000000 /O 3 /N 1 >>\nendobj\n";
    pdf += "xref\n7 1\n" + Offset10(offsets[7]) + " 00000 n \ntrailer\n<< /Size 8 >>\nstartxref\n0\n%%EOF\n";
  }
  object(1, "<< /Type /Catalog /Pages 2 0 R >>");
  object(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
  object(3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 4 0 R "
            "/Resources << /Font << /F1 5 0 R >> >> >>");
  std::string text = PageText(options.lines, "Page");
  if (linearized) {
    while (text.size() < options.linearizedBody) text += PageText(50, "More");
  }
  object(4, stream(text));
  object(5, "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>");
  std::size_t start = pdf.size();
  pdf += xref(0, 6) + "trailer\n<< /Size " + std::string(linearized ? "8" : "6") + " /Root 1 0 R >>\nstartxref\n" +
         std::to_string(start) + "\n%%EOF\n";
  if (options.update) {
    object(6, "<< /Title (Updated) /Producer (a test) >>");
    std::size_t second = pdf.size();
    pdf += "xref\n0 1\n0000000000 65535 f \n6 1\n" + Offset10(offsets[6]) +
           " 00000 n \ntrailer\n<< /Size 7 /Root 1 0 R /Info 6 0 R /Prev " + std::to_string(start) +
           " >>\nstartxref\n" + std::to_string(second) + "\n%%EOF\n";
  }
  if (linearized) {
    std::string total = Offset10(pdf.size());
    pdf.replace(lengthField, total.size(), total);
  }
  return Bytes(pdf.begin(), pdf.end());
}

}  // namespace relictor::test
