#pragma once
// The arithmetic of the dump control, kept apart from its painting and its
// keyboard handling: the option word and the columns it shows, the texts of
// addresses and values, where each column lies for a given width, and how
// the caret moves. Nothing here knows a widget, so the rules can be tested
// on their own.

#include <array>
#include <cstdint>
#include <string>

namespace relictor {

// Option word of the dump control.
namespace dump {
inline constexpr std::uint32_t kAddr = 0x01;
inline constexpr std::uint32_t kHex = 0x02;
inline constexpr std::uint32_t kDec = 0x04;
inline constexpr std::uint32_t kBin = 0x08;
inline constexpr std::uint32_t kOct = 0x10;
inline constexpr std::uint32_t kAscii = 0x20;
// The same items in an information line that shows the value at the caret.
inline constexpr std::uint32_t kInfoShift = 8;  // 0x0100 (Addr) .. 0x2000 (Ascii)
inline constexpr std::uint32_t kSeparators = 0x10000;
inline constexpr std::uint32_t kWordUnits = 0x20000;
inline constexpr std::uint32_t kNoEdit = 0x80000;
inline constexpr std::uint32_t kLowByteFirst = 0x200000;

inline constexpr std::uint32_t kDefaultOptions = 0x23;
// The viewer's configuration: Addr, Hex and Ascii with separator lines.
inline constexpr std::uint32_t kViewerOptions = 0x10023;
}  // namespace dump

// The six columns, in their left-to-right order.
enum class DumpColumn { Addr = 0, Hex, Dec, Bin, Oct, Ascii };
inline constexpr int kDumpColumnCount = 6;

inline std::uint32_t ColumnBit(DumpColumn c) { return 1u << static_cast<int>(c); }
inline bool ShowsColumn(std::uint32_t options, DumpColumn c) { return (options & ColumnBit(c)) != 0; }
inline bool ShowsInfo(std::uint32_t options, DumpColumn c) {
  return (options & (ColumnBit(c) << dump::kInfoShift)) != 0;
}
// "Addr", "Hex", "Dec", "Bin", "Oct", "Ascii".
const char* ColumnName(DumpColumn c);

// Bytes per unit: 2 with word units, else 1.
inline std::uint32_t UnitBytes(std::uint32_t options) { return (options & dump::kWordUnits) ? 2u : 1u; }

// Characters a value of the column takes: Hex 2 (4 for 2-byte units), Dec 3
// (5), Bin 8 (17), Oct 3 (6), Ascii 1. Addr is the address digits.
int ValueChars(DumpColumn c, std::uint32_t unitBytes);

// Hexadecimal digits of the address column: 4, and one more for every
// further digit that the last address (base + units - 1) needs.
int AddressDigits(std::uint64_t baseAddress, std::uint64_t units);

// " XXXX " with the address cut to `digits` rightmost upper-case digits.
std::string AddressText(std::uint64_t address, int digits);

// The text of a unit value in a value column; `replacement` stands for
// control characters (below 0x20 and 0x7F to 0x9F) in the Ascii column
// when it is not 0.
std::string ValueText(DumpColumn c, std::uint32_t value, std::uint32_t unitBytes, char replacement = 0);

// The radix of a value column (16, 10, 2, 8), or 0 for Ascii.
int ColumnRadix(DumpColumn c);
// Whether `ch` may be typed into the editor of the column (lower-case
// hexadecimal letters are accepted; the editor turns them to upper case).
bool AcceptsEditChar(DumpColumn c, char ch);
// Parses an edited text in the column's radix (Ascii: its first
// character). False when the text is empty, not a number of that radix, or
// does not fit in a unit.
bool ParseEditText(DumpColumn c, const std::string& text, std::uint32_t unitBytes, std::uint32_t& value);

// The measures of one layout: where each shown column starts, how wide it
// is, and how many units fit in a row.
struct DumpLayout {
  int charWidth = 0;
  std::uint32_t options = dump::kDefaultOptions;
  std::uint32_t unitBytes = 1;
  int addressDigits = 4;
  std::array<int, kDumpColumnCount> columnX{};      // left edge, -1 when hidden
  std::array<int, kDumpColumnCount> columnWidth{};  // 0 when hidden
  std::uint64_t unitsPerRow = 0;
  std::uint64_t rows = 0;

  // The left edge of unit `i` of a row within a value column.
  int UnitX(DumpColumn c, std::uint64_t i) const;
  // The width of one unit's cell in a value column.
  int UnitWidth(DumpColumn c) const;
};

// Lays the columns out for a client width without the vertical scroll bar
// (`clientWidth` already excludes it): the address column takes (digits +
// 2) character widths; every other value column (digits + 1) character
// widths per unit plus one for the column; the Ascii column one character
// width plus one pixel per unit plus two character widths less one pixel.
// The units per row are what fits, 0 when nothing does.
DumpLayout ComputeDumpLayout(std::uint32_t options, int charWidth, int clientWidth, std::uint64_t baseAddress,
                             std::uint64_t units);

// Caret movements of the keyboard.
enum class DumpMove { Left, Right, Up, Down, PageUp, PageDown, Home, End, First, Last };

// Where the caret goes; it stays within 0 .. units - 1 (0 when there are
// no units).
std::uint64_t MoveDumpCaret(DumpMove move, std::uint64_t caret, std::uint64_t units, std::uint64_t unitsPerRow,
                            std::uint64_t pageRows);

// The first row to show so that `caretRow` is visible with `visibleRows`
// rows on screen, starting from `topRow`.
std::uint64_t ScrollRowToShow(std::uint64_t topRow, std::uint64_t caretRow, std::uint64_t visibleRows);

// The largest first row: the last page stays full where it can.
std::uint64_t MaxTopRow(std::uint64_t rows, std::uint64_t visibleRows);

}  // namespace relictor
