#include "exfat/exfat_label.h"

#include "exfat/exfat_entry_set.h"
#include "volume/text.h"

namespace relictor {

std::string ParseExFatLabel(ByteSpan e) {
  if (e.size() < kExFatEntrySize || e[0] != kExFatLabelEntry) return {};
  std::size_t count = le8(e, 1);
  if (count > 11) count = 11;
  std::string label = Utf16LeToUtf8(e.subspan(2, count * 2), true);
  for (char& c : label) {
    if (static_cast<unsigned char>(c) < 0x20) c = '_';
  }
  return label;
}

}  // namespace relictor
