#pragma once
// The length rules, one file per family of file types. Each measures the
// file that starts at offset 0 of cluster k, whose first cluster is in the
// volume's cluster buffer, and reads only clusters of the scan range.
// `name` holds the table name of the recognised type; a rule that reads a
// more exact kind of file from its content puts that name there.

#include <cstdint>
#include <string>

namespace relictor {

class CDriver;

namespace rules {

using LengthRule = bool (*)(CDriver& volume, std::uint64_t k, std::uint64_t& length, std::string& name);

// The rule of a type code, or null for a type whose length cannot be told.
LengthRule RuleFor(std::uint16_t code);

// Images (image_rules.cpp).
// The size field of the BMP header.
bool BmpLength(CDriver& volume, std::uint64_t k, std::uint64_t& length, std::string& name);
// JPEG markers and segments walked up to the end marker behind the scan.
bool JpegLength(CDriver& volume, std::uint64_t k, std::uint64_t& length, std::string& name);
// GIF blocks walked up to the trailer.
bool GifLength(CDriver& volume, std::uint64_t k, std::uint64_t& length, std::string& name);
// PCX run-length data decoded to the size of the image, then the palette of
// a 256-colour image.
bool PcxLength(CDriver& volume, std::uint64_t k, std::uint64_t& length, std::string& name);
// TGA and PNG: up to their end markers.
bool TgaLength(CDriver& volume, std::uint64_t k, std::uint64_t& length, std::string& name);
bool PngLength(CDriver& volume, std::uint64_t k, std::uint64_t& length, std::string& name);

// Compound documents (compound_rules.cpp): the length from the sector
// allocation table; the name becomes "DOC", "XLS", "PPT", "VSD" or
// "MSCOMP" by the streams of its directory.
bool CompoundDocumentLength(CDriver& volume, std::uint64_t k, std::uint64_t& length, std::string& name);

// Audio and video containers (media_rules.cpp).
// The size field of a RIFF header (AVI, WAV, CDR).
bool RiffLength(CDriver& volume, std::uint64_t k, std::uint64_t& length, std::string& name);
// An ID3v2 tag, then MPEG audio frames walked header by header up to the
// first bytes that are no frame of the same stream, then an optional ID3v1
// tag.
bool Mp3Length(CDriver& volume, std::uint64_t k, std::uint64_t& length, std::string& name);
// Ogg pages, each checked against its checksum, walked up to the
// end-of-stream page of every logical stream
// that began (and on through chained streams that follow at once).
bool OggLength(CDriver& volume, std::uint64_t k, std::uint64_t& length, std::string& name);
// The top-level boxes of an MP4 or QuickTime movie, walked up to the first
// bytes that are no top-level box; a movie box must be among them. The
// name becomes "MOV", "M4A" or "MP4" by the file's brand.
bool Mp4Length(CDriver& volume, std::uint64_t k, std::uint64_t& length, std::string& name);
// Pack headers and packets of an MPEG program stream up to its end code,
// or up to the first bytes that start neither (many writers leave the end
// code out), or up to a pack whose clock goes back (another stream's first).
bool MpegProgramLength(CDriver& volume, std::uint64_t k, std::uint64_t& length, std::string& name);

// Archives and documents (document_rules.cpp).
// Up to the last "%%EOF" (with its line end) that follows the one before
// within a bounded window; a linearized document's declared length is
// taken when an end marker stands there.
bool PdfLength(CDriver& volume, std::uint64_t k, std::uint64_t& length, std::string& name);
// Up to the end-of-central-directory record and the archive's comment; the
// name becomes that of the document kind the archive holds ("DOCX",
// "XLSX", "PPTX", "ODT", "ODS", "ODP", "EPUB"), if any.
bool ZipLength(CDriver& volume, std::uint64_t k, std::uint64_t& length, std::string& name);
// RAR archives and HTML pages: up to their end markers.
bool RarLength(CDriver& volume, std::uint64_t k, std::uint64_t& length, std::string& name);
bool HtmlLength(CDriver& volume, std::uint64_t k, std::uint64_t& length, std::string& name);

}  // namespace rules
}  // namespace relictor
