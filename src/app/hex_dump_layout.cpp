#include "app/hex_dump_layout.h"

#include <QCoreApplication>

#include <algorithm>

namespace relictor {
namespace {

const char kHexDigits[] = "0123456789ABCDEF";

std::string InRadix(std::uint64_t value, unsigned radix, int minDigits) {
  std::string out;
  do {
    out.insert(out.begin(), kHexDigits[value % radix]);
    value /= radix;
  } while (value != 0);
  if (static_cast<int>(out.size()) < minDigits) out.insert(0, static_cast<std::size_t>(minDigits) - out.size(), '0');
  return out;
}

}  // namespace

const char* ColumnName(DumpColumn c) {
  switch (c) {
    case DumpColumn::Addr: return QT_TRANSLATE_NOOP("HexDump", "Addr");
    case DumpColumn::Hex: return QT_TRANSLATE_NOOP("HexDump", "Hex");
    case DumpColumn::Dec: return QT_TRANSLATE_NOOP("HexDump", "Dec");
    case DumpColumn::Bin: return QT_TRANSLATE_NOOP("HexDump", "Bin");
    case DumpColumn::Oct: return QT_TRANSLATE_NOOP("HexDump", "Oct");
    case DumpColumn::Ascii: return QT_TRANSLATE_NOOP("HexDump", "Ascii");
  }
  return "";
}

int ValueChars(DumpColumn c, std::uint32_t unitBytes) {
  const bool word = unitBytes == 2;
  switch (c) {
    case DumpColumn::Addr: return 4;
    case DumpColumn::Hex: return word ? 4 : 2;
    case DumpColumn::Dec: return word ? 5 : 3;
    case DumpColumn::Bin: return word ? 17 : 8;
    case DumpColumn::Oct: return word ? 6 : 3;
    case DumpColumn::Ascii: return 1;
  }
  return 1;
}

int AddressDigits(std::uint64_t baseAddress, std::uint64_t units) {
  // The last address shown; a sum past 64 bits keeps the widest address.
  std::uint64_t last = baseAddress;
  if (units > 0) {
    last = units - 1 > UINT64_MAX - baseAddress ? UINT64_MAX : baseAddress + units - 1;
  }
  int digits = 4;
  for (std::uint64_t rest = last >> 16; rest != 0; rest >>= 4) ++digits;
  return digits;
}

std::string AddressText(std::uint64_t address, int digits) {
  std::string hex = InRadix(address, 16, digits);
  if (static_cast<int>(hex.size()) > digits) hex.erase(0, hex.size() - static_cast<std::size_t>(digits));
  return " " + hex + " ";
}

std::string ValueText(DumpColumn c, std::uint32_t value, std::uint32_t unitBytes, char replacement) {
  switch (c) {
    case DumpColumn::Addr:
    case DumpColumn::Hex: return InRadix(value, 16, static_cast<int>(2 * unitBytes));
    case DumpColumn::Dec: return InRadix(value, 10, 1);
    case DumpColumn::Oct: return InRadix(value, 8, 1);
    case DumpColumn::Bin: {
      std::string bits = InRadix(value, 2, static_cast<int>(8 * unitBytes));
      for (std::size_t at = bits.size() - 8; at > 0; at -= 8) bits.insert(at, 1, '-');
      return bits;
    }
    case DumpColumn::Ascii: {
      auto byte = static_cast<unsigned char>(value & 0xFF);
      // Control characters, C0 and C1 alike, have no glyph; tab and line
      // feeds would break the row apart.
      const bool control = byte < 0x20 || (byte >= 0x7F && byte <= 0x9F);
      if (control && replacement != 0) return std::string(1, replacement);
      return std::string(1, static_cast<char>(byte));
    }
  }
  return {};
}

int ColumnRadix(DumpColumn c) {
  switch (c) {
    case DumpColumn::Addr:
    case DumpColumn::Hex: return 16;
    case DumpColumn::Dec: return 10;
    case DumpColumn::Bin: return 2;
    case DumpColumn::Oct: return 8;
    case DumpColumn::Ascii: return 0;
  }
  return 0;
}

bool AcceptsEditChar(DumpColumn c, char ch) {
  switch (ColumnRadix(c)) {
    case 0: return true;
    case 2: return ch == '0' || ch == '1';
    case 8: return ch >= '0' && ch <= '7';
    case 10: return ch >= '0' && ch <= '9';
    case 16: return (ch >= '0' && ch <= '9') || (ch >= 'A' && ch <= 'F') || (ch >= 'a' && ch <= 'f');
  }
  return false;
}

bool ParseEditText(DumpColumn c, const std::string& text, std::uint32_t unitBytes, std::uint32_t& value) {
  if (text.empty()) return false;
  const std::uint64_t limit = unitBytes == 2 ? 0xFFFF : 0xFF;
  const int radix = ColumnRadix(c);
  if (radix == 0) {
    value = static_cast<unsigned char>(text[0]);
    return true;
  }
  std::uint64_t v = 0;
  for (char ch : text) {
    if (!AcceptsEditChar(c, ch)) return false;
    int digit = ch <= '9' ? ch - '0' : (ch >= 'a' ? ch - 'a' + 10 : ch - 'A' + 10);
    v = v * static_cast<unsigned>(radix) + static_cast<unsigned>(digit);
    if (v > limit) return false;
  }
  value = static_cast<std::uint32_t>(v);
  return true;
}

int DumpLayout::UnitWidth(DumpColumn c) const {
  if (c == DumpColumn::Ascii) return charWidth + 1;
  return (ValueChars(c, unitBytes) + 1) * charWidth;
}

int DumpLayout::UnitX(DumpColumn c, std::uint64_t i) const {
  const int x = columnX[static_cast<int>(c)];
  // Half a character (a whole one in the Ascii column) of margin keeps the
  // first value off the separator line.
  const int margin = c == DumpColumn::Ascii ? charWidth : charWidth / 2;
  return x + margin + static_cast<int>(i) * UnitWidth(c);
}

DumpLayout ComputeDumpLayout(std::uint32_t options, int charWidth, int clientWidth, std::uint64_t baseAddress,
                             std::uint64_t units) {
  DumpLayout l;
  l.options = options;
  l.charWidth = std::max(charWidth, 1);
  l.unitBytes = UnitBytes(options);
  l.addressDigits = AddressDigits(baseAddress, units);
  l.columnX.fill(-1);
  l.columnWidth.fill(0);

  const int cw = l.charWidth;
  const int addrWidth = ShowsColumn(options, DumpColumn::Addr) ? (l.addressDigits + 2) * cw : 0;
  long long overhead = 0;
  long long perUnit = 0;
  for (int i = 1; i < kDumpColumnCount; ++i) {
    auto c = static_cast<DumpColumn>(i);
    if (!ShowsColumn(options, c)) continue;
    if (c == DumpColumn::Ascii) {
      perUnit += cw + 1;
      overhead += 2 * cw - 1;
    } else {
      perUnit += (ValueChars(c, l.unitBytes) + 1) * cw;
      overhead += cw;
    }
  }
  const long long room = static_cast<long long>(clientWidth) - addrWidth - overhead;
  l.unitsPerRow = (perUnit > 0 && room > 0) ? static_cast<std::uint64_t>(room / perUnit) : 0;
  l.rows = l.unitsPerRow == 0 ? 0 : (units + l.unitsPerRow - 1) / l.unitsPerRow;

  int x = 0;
  if (addrWidth > 0) {
    l.columnX[0] = 0;
    l.columnWidth[0] = addrWidth;
    x = addrWidth;
  }
  const auto upr = static_cast<long long>(l.unitsPerRow);
  for (int i = 1; i < kDumpColumnCount; ++i) {
    auto c = static_cast<DumpColumn>(i);
    if (!ShowsColumn(options, c)) continue;
    long long w = c == DumpColumn::Ascii ? upr * (cw + 1) + 2 * cw - 1
                                         : upr * (ValueChars(c, l.unitBytes) + 1) * cw + cw;
    l.columnX[static_cast<std::size_t>(i)] = x;
    l.columnWidth[static_cast<std::size_t>(i)] = static_cast<int>(std::min<long long>(w, 1 << 28));
    x += l.columnWidth[static_cast<std::size_t>(i)];
  }
  return l;
}

std::uint64_t MoveDumpCaret(DumpMove move, std::uint64_t caret, std::uint64_t units, std::uint64_t unitsPerRow,
                            std::uint64_t pageRows) {
  if (units == 0) return 0;
  const std::uint64_t last = units - 1;
  caret = std::min(caret, last);
  const std::uint64_t row = std::max<std::uint64_t>(unitsPerRow, 1);
  const std::uint64_t page = row * std::max<std::uint64_t>(pageRows, 1);
  switch (move) {
    case DumpMove::Left: return caret == 0 ? 0 : caret - 1;
    case DumpMove::Right: return caret == last ? last : caret + 1;
    case DumpMove::Up: return caret >= row ? caret - row : caret;
    case DumpMove::Down: return last - caret >= row ? caret + row : caret;
    case DumpMove::PageUp: return caret >= page ? caret - page : caret % row;
    case DumpMove::PageDown: {
      if (last - caret >= page) return caret + page;
      // Go to the last row, keeping the column where that row reaches it.
      std::uint64_t lastRowStart = last - last % row;
      return std::min(lastRowStart + caret % row, last) >= caret ? std::min(lastRowStart + caret % row, last) : caret;
    }
    case DumpMove::Home: return caret - caret % row;
    case DumpMove::End: return std::min(caret - caret % row + row - 1, last);
    case DumpMove::First: return 0;
    case DumpMove::Last: return last;
  }
  return caret;
}

std::uint64_t ScrollRowToShow(std::uint64_t topRow, std::uint64_t caretRow, std::uint64_t visibleRows) {
  const std::uint64_t shown = std::max<std::uint64_t>(visibleRows, 1);
  if (caretRow < topRow) return caretRow;
  if (caretRow >= topRow + shown) return caretRow - shown + 1;
  return topRow;
}

std::uint64_t MaxTopRow(std::uint64_t rows, std::uint64_t visibleRows) {
  return rows > visibleRows ? rows - visibleRows : 0;
}

}  // namespace relictor
