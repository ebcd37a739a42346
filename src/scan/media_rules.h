#pragma once
// Length rules of the types that were added to the detector behind the
// original table: MP3 audio, Ogg streams, MP4 and QuickTime movies, MPEG
// program streams, PDF documents, and the end of a zip archive with the
// name of the document kind it holds. Each measures the file that starts
// at offset 0 of cluster k, whose first cluster is in the volume's cluster
// buffer, and reads only clusters of the scan range. Every walk moves
// forward by at least a few bytes per step and stops at the end of the
// range, so its cost grows with the bytes it passes, whatever the headers
// claim.

#include <cstdint>
#include <string>

namespace relictor {

class CDriver;

namespace rules {

// An ID3v2 tag, then MPEG audio frames walked header by header up to the
// first bytes that are no frame of the same stream, then an optional ID3v1
// tag.
bool Mp3Length(CDriver& volume, std::uint64_t k, std::uint64_t& length);
// Ogg pages, each checked against its checksum, walked up to the
// end-of-stream page of every logical stream
// that began (and on through chained streams that follow at once).
bool OggLength(CDriver& volume, std::uint64_t k, std::uint64_t& length);
// The top-level boxes of an MP4 or QuickTime movie, walked up to the first
// bytes that are no top-level box; a movie box must be among them. The
// name becomes "MOV", "M4A" or "MP4" by the file's brand.
bool Mp4Length(CDriver& volume, std::uint64_t k, std::uint64_t& length, std::string& name);
// Pack headers and packets of an MPEG program stream up to its end code,
// or up to the first bytes that start neither (many writers leave the end
// code out), or up to a pack whose clock goes back (another stream's first).
bool MpegProgramLength(CDriver& volume, std::uint64_t k, std::uint64_t& length);
// Up to the last "%%EOF" (with its line end) that follows the one before
// within a bounded window; a linearized document's declared length is
// taken when an end marker stands there.
bool PdfLength(CDriver& volume, std::uint64_t k, std::uint64_t& length);
// A zip archive whose end-of-central-directory record starts at
// `endRecord`: the length with the archive's comment, and the name of the
// document kind the archive holds ("DOCX", "XLSX", "PPTX", "ODT", "ODS",
// "ODP", "EPUB"), left unchanged for a plain archive. False when the
// record cannot be read; `length` and `name` are then left as they are.
bool ZipEnd(CDriver& volume, std::uint64_t k, std::uint64_t endRecord, std::uint64_t& length, std::string& name);

}  // namespace rules
}  // namespace relictor
