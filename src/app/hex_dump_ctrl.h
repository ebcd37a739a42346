#pragma once
// The dump control: an address column and the bytes of a buffer in the
// columns its option word chooses (hexadecimal, decimal, binary, octal,
// characters). It paints only the rows on screen, moves a caret with the
// keyboard, scrolls by whole rows, and edits a unit in place in any radix.
// The arithmetic lives in hex_dump_layout.h; this class paints and handles
// input.

#include <QAbstractScrollArea>
#include <QLineEdit>

#include <cstdint>
#include <string>

#include "app/hex_dump_layout.h"

namespace relictor {

class MFCDumpCtrl;

// The small editor that opens over a value. It lets through only the
// characters of its column's radix and tells the control what to do with
// its text through the actions below.
class CDumpEditor final : public QLineEdit {
  Q_OBJECT

 public:
  // What the editor asks of the control.
  enum Action {
    kCancel = 1126,        // Escape, or the editor lost the focus
    kCommit = 1127,        // Enter
    kCommitMove = 1128,    // Page Up, Page Down
    kCommitColumn = 1129,  // Tab, Shift+Tab, Ctrl+H/D/B/O/A
  };

  CDumpEditor(MFCDumpCtrl& owner, QWidget* parent);
  DumpColumn Column() const { return column_; }
  void SetColumn(DumpColumn column, std::uint32_t unitBytes);

 protected:
  bool event(QEvent* e) override;
  void keyPressEvent(QKeyEvent* e) override;
  void focusOutEvent(QFocusEvent* e) override;

 private:
  MFCDumpCtrl& owner_;
  DumpColumn column_ = DumpColumn::Hex;
};

class MFCDumpCtrl final : public QAbstractScrollArea {
  Q_OBJECT

 public:
  explicit MFCDumpCtrl(QWidget* parent = nullptr);

  // The bytes shown (borrowed, edited in place) and the unchanged bytes to
  // compare with (borrowed; the data itself when null). Puts the caret and
  // the top back at the start.
  void SetData(std::uint64_t length, std::uint8_t* bytes, const std::uint8_t* reference = nullptr,
               bool redraw = true);
  void SetOptions(std::uint32_t set, std::uint32_t clear, bool redraw = true);
  std::uint32_t Options() const { return options_; }
  void SetDumpFont(const QString& face, int points, bool bold = false, bool italic = false, bool underline = false);
  void SetBaseAddress(std::uint64_t base);
  void SetReplacementChar(char c);
  // The value of unit `index` from the data or the reference data, in the
  // byte order of the option word. False outside the data.
  bool ReadUnit(std::uint64_t index, bool fromReference, std::uint32_t& value) const;

  std::uint64_t Units() const { return units_; }
  std::uint64_t Caret() const { return caret_; }
  void SetCaret(std::uint64_t unit);
  std::uint64_t TopUnit() const { return topRow_ * layout_.unitsPerRow; }
  std::uint64_t TopRow() const { return topRow_; }
  std::uint64_t VisibleRows() const;
  const DumpLayout& Layout() const { return layout_; }
  int RowHeight() const { return rowHeight_; }
  DumpColumn ActiveColumn() const { return activeColumn_; }
  // The texts of one row as painted, columns joined by " | " (for checks
  // and for screen readers).
  std::string RowText(std::uint64_t row) const;
  // The point inside the cell of `unit` in `column`, in viewport
  // co-ordinates (for tests that click like a user).
  QPoint CellCenter(DumpColumn column, std::uint64_t unit) const;

  // Opens the editor over the caret's unit in `column` (ignored when
  // editing is switched off or the column is not a value column).
  void OpenEditor(DumpColumn column);
  CDumpEditor* Editor() const { return editor_; }
  bool IsEditing() const;
  // The editor's request; `forward` chooses the direction of a move, and
  // `target` (a DumpColumn) the radix that Ctrl+H/D/B/O/A switch to, -1
  // for Tab's next or previous column.
  void EditorAction(CDumpEditor::Action action, bool forward, int target = -1);

 signals:
  // A unit was changed by the editor.
  void UnitEdited(quint64 unit, quint32 value);

 protected:
  void paintEvent(QPaintEvent* e) override;
  void resizeEvent(QResizeEvent* e) override;
  void keyPressEvent(QKeyEvent* e) override;
  void mousePressEvent(QMouseEvent* e) override;
  void mouseDoubleClickEvent(QMouseEvent* e) override;
  void scrollContentsBy(int dx, int dy) override;

 private:
  void Relayout();
  void UpdateScrollBar();
  void ShowCaret();
  int InfoHeight() const;
  bool HitTest(const QPoint& p, DumpColumn& column, std::uint64_t& unit) const;
  bool WriteUnit(std::uint64_t index, std::uint32_t value);
  bool CommitEditor();
  void CloseEditor();
  void PlaceEditor();
  DumpColumn NextValueColumn(DumpColumn from, bool forward, bool& wrapped) const;

  std::uint32_t options_ = dump::kDefaultOptions;
  std::uint8_t* data_ = nullptr;
  const std::uint8_t* reference_ = nullptr;
  std::uint64_t length_ = 0;
  std::uint64_t units_ = 0;
  std::uint64_t base_ = 0;
  std::uint64_t topRow_ = 0;
  std::uint64_t caret_ = 0;
  DumpColumn activeColumn_ = DumpColumn::Hex;
  char replacement_ = 0;
  int rowHeight_ = 1;
  int charWidth_ = 1;
  int ascent_ = 0;
  DumpLayout layout_;
  CDumpEditor* editor_ = nullptr;
  bool closingEditor_ = false;
};

}  // namespace relictor
