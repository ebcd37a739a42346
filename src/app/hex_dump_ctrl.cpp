#include "app/hex_dump_ctrl.h"

#include <QApplication>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QPainter>
#include <QScrollBar>
#include <QValidator>

#include <algorithm>
#include <climits>

namespace relictor {
namespace {

// Lets through only what the editor's column accepts, upper-casing
// hexadecimal letters as they are typed.
class DumpEditValidator final : public QValidator {
 public:
  DumpEditValidator(DumpColumn column, QObject* parent) : QValidator(parent), column_(column) {}

  State validate(QString& input, int&) const override {
    if (column_ == DumpColumn::Ascii) return input.size() <= 1 ? Acceptable : Invalid;
    for (QChar& ch : input) {
      if (ch.unicode() > 0x7F || !AcceptsEditChar(column_, static_cast<char>(ch.unicode()))) return Invalid;
      ch = ch.toUpper();
    }
    return input.isEmpty() ? Intermediate : Acceptable;
  }

 private:
  DumpColumn column_;
};

// Characters the editor takes in a column: the value's digits (binary
// values are typed without the group dashes).
int EditChars(DumpColumn c, std::uint32_t unitBytes) {
  if (c == DumpColumn::Bin) return static_cast<int>(8 * unitBytes);
  return ValueChars(c, unitBytes);
}

DumpColumn ColumnOfKey(int key) {
  switch (key) {
    case Qt::Key_D: return DumpColumn::Dec;
    case Qt::Key_B: return DumpColumn::Bin;
    case Qt::Key_O: return DumpColumn::Oct;
    case Qt::Key_A: return DumpColumn::Ascii;
    default: return DumpColumn::Hex;
  }
}

}  // namespace

// ---------------------------------------------------------------- editor

CDumpEditor::CDumpEditor(MFCDumpCtrl& owner, QWidget* parent) : QLineEdit(parent), owner_(owner) {
  setFrame(true);
  setObjectName("dumpEditor");
}

void CDumpEditor::SetColumn(DumpColumn column, std::uint32_t unitBytes) {
  column_ = column;
  delete validator();
  setValidator(new DumpEditValidator(column, this));
  setMaxLength(EditChars(column, unitBytes));
}

bool CDumpEditor::event(QEvent* e) {
  // Tab and Shift+Tab move the editor between columns instead of moving the
  // focus out of it.
  if (e->type() == QEvent::KeyPress) {
    auto* k = static_cast<QKeyEvent*>(e);
    if (k->key() == Qt::Key_Tab || k->key() == Qt::Key_Backtab) {
      const bool back = k->key() == Qt::Key_Backtab || (k->modifiers() & Qt::ShiftModifier);
      owner_.EditorAction(kCommitColumn, !back);
      return true;
    }
  }
  return QLineEdit::event(e);
}

void CDumpEditor::keyPressEvent(QKeyEvent* e) {
  const bool ctrl = (e->modifiers() & Qt::ControlModifier) != 0;
  switch (e->key()) {
    case Qt::Key_Escape: owner_.EditorAction(kCancel, true); return;
    case Qt::Key_Return:
    case Qt::Key_Enter: owner_.EditorAction(kCommit, true); return;
    case Qt::Key_PageUp: owner_.EditorAction(kCommitMove, false); return;
    case Qt::Key_PageDown: owner_.EditorAction(kCommitMove, true); return;
    case Qt::Key_H:
    case Qt::Key_D:
    case Qt::Key_B:
    case Qt::Key_O:
    case Qt::Key_A:
      if (ctrl) {
        owner_.EditorAction(kCommitColumn, true, static_cast<int>(ColumnOfKey(e->key())));
        return;
      }
      break;
    default: break;
  }
  QLineEdit::keyPressEvent(e);
}

void CDumpEditor::focusOutEvent(QFocusEvent* e) {
  QLineEdit::focusOutEvent(e);
  // Clicking elsewhere drops the edit, as Escape does.
  if (isVisible() && e->reason() != Qt::PopupFocusReason) owner_.EditorAction(kCancel, true);
}

// ---------------------------------------------------------------- control

MFCDumpCtrl::MFCDumpCtrl(QWidget* parent) : QAbstractScrollArea(parent) {
  setObjectName("MFCDumpCtrl");
  setFocusPolicy(Qt::StrongFocus);
  setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  setFrameShape(QFrame::Box);
  viewport()->setBackgroundRole(QPalette::Button);
  viewport()->setAutoFillBackground(true);
  SetDumpFont("Courier", 8);
}

void MFCDumpCtrl::SetDumpFont(const QString& face, int points, bool bold, bool italic, bool underline) {
  QFont f(face, points, bold ? QFont::Bold : QFont::Normal, italic);
  f.setUnderline(underline);
  f.setStyleHint(QFont::TypeWriter);
  f.setFixedPitch(true);
  viewport()->setFont(f);
  QFontMetrics m(f);
  charWidth_ = std::max(1, m.horizontalAdvance(QLatin1Char('0')));
  rowHeight_ = std::max(1, m.height());
  ascent_ = m.ascent();
  Relayout();
}

void MFCDumpCtrl::SetData(std::uint64_t length, std::uint8_t* bytes, const std::uint8_t* reference, bool redraw) {
  CloseEditor();
  data_ = bytes;
  reference_ = reference ? reference : bytes;
  length_ = bytes ? length : 0;
  units_ = length_ / UnitBytes(options_);
  topRow_ = 0;
  caret_ = 0;
  Relayout();
  if (redraw) viewport()->update();
}

void MFCDumpCtrl::SetOptions(std::uint32_t set, std::uint32_t clear, bool redraw) {
  CloseEditor();
  options_ = (options_ & ~clear) | set;
  units_ = length_ / UnitBytes(options_);
  caret_ = units_ == 0 ? 0 : std::min(caret_, units_ - 1);
  if (!ShowsColumn(options_, activeColumn_) || activeColumn_ == DumpColumn::Addr) {
    bool wrapped = false;
    activeColumn_ = NextValueColumn(DumpColumn::Addr, true, wrapped);
  }
  Relayout();
  if (redraw) viewport()->update();
}

void MFCDumpCtrl::SetBaseAddress(std::uint64_t base) {
  base_ = base;
  Relayout();
  viewport()->update();
}

void MFCDumpCtrl::SetReplacementChar(char c) {
  replacement_ = c;
  viewport()->update();
}

bool MFCDumpCtrl::ReadUnit(std::uint64_t index, bool fromReference, std::uint32_t& value) const {
  const std::uint8_t* bytes = fromReference ? reference_ : data_;
  if (!bytes || index >= units_) return false;
  if (UnitBytes(options_) == 1) {
    value = bytes[index];
    return true;
  }
  const std::uint8_t a = bytes[index * 2];
  const std::uint8_t b = bytes[index * 2 + 1];
  value = (options_ & dump::kLowByteFirst) ? static_cast<std::uint32_t>(a | (b << 8))
                                           : static_cast<std::uint32_t>((a << 8) | b);
  return true;
}

bool MFCDumpCtrl::WriteUnit(std::uint64_t index, std::uint32_t value) {
  if (!data_ || index >= units_) return false;
  if (UnitBytes(options_) == 1) {
    data_[index] = static_cast<std::uint8_t>(value);
  } else {
    const auto hi = static_cast<std::uint8_t>(value >> 8);
    const auto lo = static_cast<std::uint8_t>(value & 0xFF);
    const bool lowFirst = (options_ & dump::kLowByteFirst) != 0;
    data_[index * 2] = lowFirst ? lo : hi;
    data_[index * 2 + 1] = lowFirst ? hi : lo;
  }
  emit UnitEdited(index, value);
  return true;
}

int MFCDumpCtrl::InfoHeight() const {
  for (int i = 0; i < kDumpColumnCount; ++i) {
    if (ShowsInfo(options_, static_cast<DumpColumn>(i))) return rowHeight_ + 2;
  }
  return 0;
}

std::uint64_t MFCDumpCtrl::VisibleRows() const {
  const int h = viewport()->height() - InfoHeight();
  return h > 0 ? static_cast<std::uint64_t>(h / rowHeight_) : 0;
}

void MFCDumpCtrl::Relayout() {
  const std::uint64_t topUnit = TopUnit();
  layout_ = ComputeDumpLayout(options_, charWidth_, viewport()->width(), base_, units_);
  // Keep the first unit on screen; the top stays a multiple of the row.
  topRow_ = layout_.unitsPerRow == 0 ? 0 : topUnit / layout_.unitsPerRow;
  topRow_ = std::min(topRow_, MaxTopRow(layout_.rows, VisibleRows()));
  UpdateScrollBar();
  PlaceEditor();
}

void MFCDumpCtrl::UpdateScrollBar() {
  // Rows beyond what a scroll bar can count are still reached with the
  // keyboard; the viewer's own bound keeps far below this.
  const std::uint64_t maxTop = std::min<std::uint64_t>(MaxTopRow(layout_.rows, VisibleRows()), INT_MAX);
  QScrollBar* bar = verticalScrollBar();
  const QSignalBlocker block(bar);
  bar->setRange(0, static_cast<int>(maxTop));
  bar->setSingleStep(1);
  bar->setPageStep(static_cast<int>(std::clamp<std::uint64_t>(VisibleRows(), 1, INT_MAX)));
  bar->setValue(static_cast<int>(std::min<std::uint64_t>(topRow_, INT_MAX)));
}

void MFCDumpCtrl::scrollContentsBy(int, int) {
  topRow_ = static_cast<std::uint64_t>(std::max(0, verticalScrollBar()->value()));
  PlaceEditor();
  viewport()->update();
}

void MFCDumpCtrl::resizeEvent(QResizeEvent* e) {
  QAbstractScrollArea::resizeEvent(e);
  Relayout();
}

void MFCDumpCtrl::SetCaret(std::uint64_t unit) {
  caret_ = units_ == 0 ? 0 : std::min(unit, units_ - 1);
  ShowCaret();
}

void MFCDumpCtrl::ShowCaret() {
  if (layout_.unitsPerRow != 0) {
    const std::uint64_t row = caret_ / layout_.unitsPerRow;
    topRow_ = std::min(ScrollRowToShow(topRow_, row, VisibleRows()), std::max(MaxTopRow(layout_.rows, VisibleRows()), row));
    UpdateScrollBar();
  }
  viewport()->update();
}

std::string MFCDumpCtrl::RowText(std::uint64_t row) const {
  std::string out;
  const std::uint64_t upr = layout_.unitsPerRow;
  if (upr == 0 || row >= layout_.rows) return out;
  const std::uint64_t first = row * upr;
  const std::uint64_t end = std::min(first + upr, units_);
  for (int ci = 0; ci < kDumpColumnCount; ++ci) {
    auto c = static_cast<DumpColumn>(ci);
    if (!ShowsColumn(options_, c)) continue;
    if (!out.empty()) out += " | ";
    if (c == DumpColumn::Addr) {
      std::string a = AddressText(base_ + first, layout_.addressDigits);
      out += a.substr(1, a.size() - 2);
      continue;
    }
    for (std::uint64_t u = first; u < end; ++u) {
      std::uint32_t v = 0;
      ReadUnit(u, false, v);
      if (c != DumpColumn::Ascii && u != first) out += ' ';
      out += ValueText(c, v, layout_.unitBytes, replacement_);
    }
  }
  return out;
}

QPoint MFCDumpCtrl::CellCenter(DumpColumn column, std::uint64_t unit) const {
  const std::uint64_t upr = std::max<std::uint64_t>(layout_.unitsPerRow, 1);
  const std::uint64_t row = unit / upr;
  const int y = InfoHeight() + static_cast<int>(static_cast<long long>(row) - static_cast<long long>(topRow_)) * rowHeight_ +
                rowHeight_ / 2;
  const int x = layout_.UnitX(column, unit % upr) + layout_.UnitWidth(column) / 2;
  return {x, y};
}

bool MFCDumpCtrl::HitTest(const QPoint& p, DumpColumn& column, std::uint64_t& unit) const {
  const std::uint64_t upr = layout_.unitsPerRow;
  if (upr == 0 || p.y() < InfoHeight()) return false;
  const std::uint64_t row = topRow_ + static_cast<std::uint64_t>((p.y() - InfoHeight()) / rowHeight_);
  for (int ci = 1; ci < kDumpColumnCount; ++ci) {
    auto c = static_cast<DumpColumn>(ci);
    if (!ShowsColumn(options_, c)) continue;
    const int x0 = layout_.UnitX(c, 0);
    const int w = layout_.UnitWidth(c);
    if (p.x() < x0 || p.x() >= x0 + static_cast<int>(upr) * w) continue;
    const std::uint64_t u = row * upr + static_cast<std::uint64_t>((p.x() - x0) / w);
    if (u >= units_) return false;
    column = c;
    unit = u;
    return true;
  }
  return false;
}

void MFCDumpCtrl::paintEvent(QPaintEvent*) {
  QPainter p(viewport());
  const QPalette& pal = palette();
  const int cw = charWidth_;
  const std::uint64_t upr = layout_.unitsPerRow;
  const int top = InfoHeight();

  if (top > 0) {
    std::string info;
    std::uint32_t v = 0;
    const bool have = ReadUnit(caret_, false, v);
    for (int ci = 0; ci < kDumpColumnCount; ++ci) {
      auto c = static_cast<DumpColumn>(ci);
      if (!ShowsInfo(options_, c)) continue;
      info += QCoreApplication::translate("HexDump", ColumnName(c)).toStdString() + ":";
      if (c == DumpColumn::Addr) {
        std::string a = AddressText(base_ + caret_, layout_.addressDigits);
        info += a.substr(1, a.size() - 2);
      } else if (have) {
        info += ValueText(c, v, layout_.unitBytes, replacement_);
      }
      info += "  ";
    }
    p.setPen(pal.color(QPalette::ButtonText));
    p.drawText(2, ascent_ + 1, QString::fromLatin1(info.c_str()));
    p.drawLine(0, top - 1, viewport()->width(), top - 1);
  }

  if ((options_ & dump::kSeparators) != 0) {
    p.setPen(pal.color(QPalette::Mid));
    for (int ci = 0; ci < kDumpColumnCount; ++ci) {
      const int x = layout_.columnX[static_cast<std::size_t>(ci)];
      if (x > 0) p.drawLine(x, top, x, viewport()->height());
    }
  }
  if (upr == 0) return;

  // Only the rows on screen are painted, however long the data.
  const std::uint64_t visible = VisibleRows() + 1;
  const std::uint64_t lastRow = std::min(layout_.rows, topRow_ + visible);
  const bool focused = hasFocus() || IsEditing();
  for (std::uint64_t row = topRow_; row < lastRow; ++row) {
    const int y = top + static_cast<int>(row - topRow_) * rowHeight_;
    const std::uint64_t first = row * upr;
    const std::uint64_t end = std::min(first + upr, units_);
    if (ShowsColumn(options_, DumpColumn::Addr)) {
      p.setPen(pal.color(QPalette::Dark));
      std::string a = AddressText(base_ + first, layout_.addressDigits);
      p.drawText(0, y + ascent_, QString::fromLatin1(a.c_str()));
    }
    for (int ci = 1; ci < kDumpColumnCount; ++ci) {
      auto c = static_cast<DumpColumn>(ci);
      if (!ShowsColumn(options_, c)) continue;
      const int w = layout_.UnitWidth(c);
      for (std::uint64_t u = first; u < end; ++u) {
        const int x = layout_.UnitX(c, u - first);
        std::uint32_t v = 0, r = 0;
        ReadUnit(u, false, v);
        ReadUnit(u, true, r);
        if (u == caret_) {
          const QRect cell(x, y, c == DumpColumn::Ascii ? w : w - cw, rowHeight_);
          if (c == activeColumn_ && focused) {
            p.fillRect(cell, pal.color(QPalette::Highlight));
          } else {
            p.setPen(pal.color(QPalette::Highlight));
            p.drawRect(cell.adjusted(0, 0, -1, -1));
          }
        }
        QColor ink = pal.color(QPalette::ButtonText);
        if (v != r) ink = QColor(Qt::red);
        if (u == caret_ && c == activeColumn_ && focused) ink = pal.color(QPalette::HighlightedText);
        p.setPen(ink);
        std::string text = ValueText(c, v, layout_.unitBytes, replacement_);
        QString shown = c == DumpColumn::Ascii ? QString(QChar(static_cast<unsigned char>(text[0])))
                                               : QString::fromLatin1(text.c_str());
        p.drawText(x, y + ascent_, shown);
      }
    }
  }
}

void MFCDumpCtrl::keyPressEvent(QKeyEvent* e) {
  const bool ctrl = (e->modifiers() & Qt::ControlModifier) != 0;
  DumpMove move;
  switch (e->key()) {
    case Qt::Key_Left: move = DumpMove::Left; break;
    case Qt::Key_Right: move = DumpMove::Right; break;
    case Qt::Key_Up: move = DumpMove::Up; break;
    case Qt::Key_Down: move = DumpMove::Down; break;
    case Qt::Key_PageUp: move = DumpMove::PageUp; break;
    case Qt::Key_PageDown: move = DumpMove::PageDown; break;
    case Qt::Key_Home: move = ctrl ? DumpMove::First : DumpMove::Home; break;
    case Qt::Key_End: move = ctrl ? DumpMove::Last : DumpMove::End; break;
    case Qt::Key_Return:
    case Qt::Key_Enter:
      // The keyboard's way to the editor (the mouse double-clicks).
      OpenEditor(activeColumn_);
      e->accept();
      return;
    default: QAbstractScrollArea::keyPressEvent(e); return;
  }
  caret_ = MoveDumpCaret(move, caret_, units_, layout_.unitsPerRow, VisibleRows());
  ShowCaret();
  e->accept();
}

void MFCDumpCtrl::mousePressEvent(QMouseEvent* e) {
  setFocus(Qt::MouseFocusReason);
  DumpColumn c;
  std::uint64_t u = 0;
  if (HitTest(e->position().toPoint(), c, u)) {
    activeColumn_ = c;
    SetCaret(u);
  }
}

void MFCDumpCtrl::mouseDoubleClickEvent(QMouseEvent* e) {
  DumpColumn c;
  std::uint64_t u = 0;
  if (!HitTest(e->position().toPoint(), c, u)) return;
  activeColumn_ = c;
  SetCaret(u);
  OpenEditor(c);
}

bool MFCDumpCtrl::IsEditing() const { return editor_ && editor_->isVisible(); }

void MFCDumpCtrl::OpenEditor(DumpColumn column) {
  if ((options_ & dump::kNoEdit) != 0 || column == DumpColumn::Addr || units_ == 0 || !data_) return;
  if (ShowsColumn(options_, column)) activeColumn_ = column;
  if (!editor_) editor_ = new CDumpEditor(*this, viewport());
  editor_->SetColumn(column, layout_.unitBytes);
  std::uint32_t v = 0;
  ReadUnit(caret_, false, v);
  std::string text = ValueText(column, v, layout_.unitBytes, 0);
  if (column == DumpColumn::Bin) text.erase(std::remove(text.begin(), text.end(), '-'), text.end());
  editor_->setText(column == DumpColumn::Ascii ? QString(QChar(static_cast<unsigned char>(text[0])))
                                               : QString::fromLatin1(text.c_str()));
  ShowCaret();
  editor_->show();
  PlaceEditor();
  editor_->selectAll();
  editor_->setFocus(Qt::OtherFocusReason);
}

void MFCDumpCtrl::PlaceEditor() {
  if (!editor_ || !editor_->isVisible() || layout_.unitsPerRow == 0) return;
  // The editor sits over the caret's cell in its column, or, for a radix
  // whose column is not shown, over the cell of the active column.
  const DumpColumn over = ShowsColumn(options_, editor_->Column()) ? editor_->Column() : activeColumn_;
  const QPoint c = CellCenter(over, caret_);
  const int chars = EditChars(editor_->Column(), layout_.unitBytes) + 2;
  const int w = std::max(chars * charWidth_ + 6, layout_.UnitWidth(over));
  editor_->setGeometry(c.x() - layout_.UnitWidth(over) / 2 - 2, c.y() - rowHeight_ / 2 - 3, w, rowHeight_ + 6);
}

bool MFCDumpCtrl::CommitEditor() {
  if (!IsEditing()) return false;
  std::uint32_t v = 0;
  if (!ParseEditText(editor_->Column(), editor_->text().toLatin1().toStdString(), layout_.unitBytes, v)) {
    return false;
  }
  WriteUnit(caret_, v);
  viewport()->update();
  return true;
}

void MFCDumpCtrl::CloseEditor() {
  if (!editor_ || closingEditor_) return;
  closingEditor_ = true;
  const bool hadFocus = editor_->hasFocus();
  editor_->hide();
  if (hadFocus) setFocus(Qt::OtherFocusReason);
  closingEditor_ = false;
  viewport()->update();
}

DumpColumn MFCDumpCtrl::NextValueColumn(DumpColumn from, bool forward, bool& wrapped) const {
  wrapped = false;
  int i = static_cast<int>(from);
  for (int n = 0; n < kDumpColumnCount; ++n) {
    i += forward ? 1 : -1;
    if (i >= kDumpColumnCount) {
      i = 1;
      wrapped = true;
    } else if (i < 1) {
      i = kDumpColumnCount - 1;
      wrapped = true;
    }
    if (ShowsColumn(options_, static_cast<DumpColumn>(i))) return static_cast<DumpColumn>(i);
  }
  return DumpColumn::Hex;
}

void MFCDumpCtrl::EditorAction(CDumpEditor::Action action, bool forward, int target) {
  if (!IsEditing() || closingEditor_) return;
  switch (action) {
    case CDumpEditor::kCancel: CloseEditor(); return;
    case CDumpEditor::kCommit:
      // A value that does not parse (or does not fit) keeps the editor
      // open, so that it can be put right.
      if (!CommitEditor()) {
        QApplication::beep();
        return;
      }
      CloseEditor();
      return;
    case CDumpEditor::kCommitMove: {
      if (!CommitEditor()) {
        QApplication::beep();
        return;
      }
      const DumpColumn column = editor_->Column();
      caret_ = MoveDumpCaret(forward ? DumpMove::PageDown : DumpMove::PageUp, caret_, units_, layout_.unitsPerRow,
                             VisibleRows());
      OpenEditor(column);
      return;
    }
    case CDumpEditor::kCommitColumn: {
      const DumpColumn from = editor_->Column();
      if (target >= 0) {
        // Ctrl+H/D/B/O/A: the named radix. A value that does not parse is
        // dropped rather than holding the switch up.
        CommitEditor();
        OpenEditor(static_cast<DumpColumn>(target));
        return;
      }
      // An emptied field does not stop a column switch; a bad value does.
      if (!editor_->text().isEmpty() && !CommitEditor()) {
        QApplication::beep();
        return;
      }
      // Tab and Shift+Tab: the next or previous shown value column; past
      // the last one the caret moves on to the next unit (or back).
      const DumpColumn base = ShowsColumn(options_, from) ? from : activeColumn_;
      bool wrapped = false;
      const DumpColumn next = NextValueColumn(base, forward, wrapped);
      if (wrapped) caret_ = MoveDumpCaret(forward ? DumpMove::Right : DumpMove::Left, caret_, units_,
                                          layout_.unitsPerRow, VisibleRows());
      OpenEditor(next);
      return;
    }
  }
}

}  // namespace relictor
