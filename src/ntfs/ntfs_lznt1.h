#pragma once
// Decompression of NTFS compressed data. A compressed attribute is stored
// in compression units (16 clusters as a rule): a unit whose clusters are
// all allocated holds its bytes as they are; a unit with fewer allocated
// clusters than its size, followed by a hole, holds them compressed; a
// unit that is all hole is zeros. The compressed form is a series of
// chunks of up to 4096 bytes of output, each with a two-byte header, and
// inside a chunk groups of eight literal bytes or back references.

#include <cstddef>
#include <cstdint>
#include <span>

#include "volume/endian.h"

namespace relictor {

// Decompresses `in` into `out` (the size of the compression unit). Bytes
// of `out` past the decompressed data are set to 0. Returns false when the
// data are damaged (a back reference before the start of its chunk, a
// chunk that runs past the input); the chunks before the damaged one stay
// in `out`.
bool DecompressLznt1(ByteSpan in, std::span<std::uint8_t> out);

}  // namespace relictor
