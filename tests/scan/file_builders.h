#pragma once
// Writers of test files that no tool on the build machine makes: compound
// documents (the container of older office files), RAR 1.5-4.x archives of
// stored files and RIFF AVI files, and edits of real files that keep them
// valid (a JPEG whose Huffman tables share one segment, a JPEG padded with a
// comment, a PNG padded with a private chunk, a TGA with its 2.0 footer),
// and PDF documents.

#include <cstdint>
#include <string>
#include <vector>

namespace relictor::test {

using Bytes = std::vector<std::uint8_t>;

// The CRC-32 of zip, PNG and RAR (reflected, polynomial 0xEDB88320).
std::uint32_t Crc32(const std::uint8_t* data, std::size_t size, std::uint32_t crc = 0);
inline std::uint32_t Crc32(const Bytes& b) { return Crc32(b.data(), b.size()); }

struct CompoundOptions {
  // The stream whose name tells the kind of document.
  std::string streamName = "WordDocument";
  std::uint64_t streamSize = 8192;
  // Sector size 2^shift: 9 (version 3) or 12 (version 4).
  unsigned shift = 9;
  // Other streams (4096 bytes each) listed ahead of the named one, so the
  // directory spreads over several sectors.
  unsigned fillerStreams = 0;
  // Puts the first directory sector at sector 0 and the rest behind the
  // stream data, so the directory chain runs from the first allocation
  // sector into later ones.
  bool splitDirectory = false;
  std::uint64_t seed = 1;
};

struct CompoundLayout {
  std::uint32_t sectors = 0;           // sectors behind the header
  std::uint32_t fatSectors = 0;        // allocation sectors
  std::uint32_t difatSectors = 0;      // index sectors beyond the header's 109
  std::uint32_t directorySectors = 0;  // sectors of the directory chain
  std::uint32_t firstDirectory = 0;
  std::uint32_t firstFatSector = 0;
  std::uint32_t firstDifatSector = 0;
};

// A valid compound document: the header sector, then the sectors; every
// stream is stored in ordinary sectors (none is below the 4096-byte mini
// stream cut-off).
Bytes BuildCompoundDocument(const CompoundOptions& options, CompoundLayout* layout = nullptr);

struct RarMember {
  std::string name;
  Bytes data;
};
// A RAR 1.5-4.x archive: marker block, archive header, one stored file
// header and its data per member, and the end-of-archive block.
Bytes BuildRarArchive(const std::vector<RarMember>& members);
// The 7-byte end-of-archive block the archive ends with.
Bytes RarEndBlock();

// A RIFF AVI of `frames` uncompressed frames of `frameBytes` bytes, with
// its header list, movie list and index.
Bytes BuildAvi(unsigned frames, std::uint32_t frameBytes, std::uint64_t seed);
// A RIFF file of another form type ("CDR" drawings) with one data chunk.
Bytes BuildRiff(const char formType[4], std::uint32_t dataBytes, std::uint64_t seed);

// The segments of a JPEG up to its first scan, as (marker, total length
// including the FF and marker bytes).
struct JpegSegment {
  std::uint8_t marker = 0;
  std::size_t offset = 0;
  std::size_t size = 0;  // 2 + the segment length field
};
std::vector<JpegSegment> JpegSegmentsBeforeScan(const Bytes& jpeg);
// Joins every Huffman-table segment of the JPEG into the first one (one
// segment may hold several tables), which keeps the image valid.
Bytes MergeJpegHuffmanSegments(const Bytes& jpeg);
// Inserts a comment segment of `payload` bytes behind the start marker.
Bytes InsertJpegComment(const Bytes& jpeg, std::size_t payload);
// Inserts a private ancillary chunk of `payload` data bytes before IEND.
Bytes InsertPngChunk(const Bytes& png, std::size_t payload);
// Appends the TGA 2.0 footer (no extension or developer area).
Bytes AppendTgaFooter(const Bytes& tga);

struct PdfOptions {
  // Lines of text on the one page (uncompressed, so the size is known).
  std::size_t lines = 150;
  // Appends an incremental update: a new object, cross-reference section,
  // trailer and end marker behind the first.
  bool update = false;
  // Writes the document with a linearization dictionary first and an end
  // marker behind the first page's cross-reference section, as linearized
  // documents have, followed by `linearizedBody` more bytes of page text
  // before the main section and the last end marker.
  std::size_t linearizedBody = 0;
};
// A PDF document with a correct cross-reference table (no tool on the
// build machine writes PDF without a PostScript interpreter).
Bytes BuildPdf(const PdfOptions& options);

}  // namespace relictor::test
