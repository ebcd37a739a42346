#pragma once
// The volume label entry of the root folder: up to 11 UTF-16 characters.

#include <string>

#include "volume/endian.h"

namespace relictor {

// The label an in-use label entry holds, as UTF-8; empty for an entry of
// another type or a character count of 0. A count above 11 is cut to 11.
std::string ParseExFatLabel(ByteSpan entry);

}  // namespace relictor
