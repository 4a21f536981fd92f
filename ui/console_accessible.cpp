#include "ui/console_accessible.h"

#include <QAccessibleWidget>

#include "ui/console_view.h"

namespace quorvel {
namespace {

bool Blank(char32_t c) {
  return c == 0 || c == U' ' || c == kWideTail;
}

void AppendCodePoint(QString& text, char32_t c) {
  if (c > 0x10FFFF) c = 0xFFFD;
  char32_t one[] = {c};
  text += QString::fromUcs4(one, 1);
}

// The offsets [*start, *end) of the piece of `text` of `boundary` that
// holds `offset`.
void PieceAt(const QString& text, int offset, QAccessible::TextBoundaryType boundary, int* start,
             int* end) {
  int length = static_cast<int>(text.size());
  offset = std::clamp(offset, 0, length);
  switch (boundary) {
    case QAccessible::CharBoundary:
      *start = offset;
      *end =
          std::min(length, offset + (offset < length && text.at(offset).isHighSurrogate() ? 2 : 1));
      return;
    case QAccessible::WordBoundary: {
      auto word = [&](int i) { return !text.at(i).isSpace(); };
      bool inWord = offset < length && word(offset);
      int s = offset, e = offset;
      while (s > 0 && word(s - 1) == inWord && text.at(s - 1) != QLatin1Char('\n')) --s;
      while (e < length && word(e) == inWord && text.at(e) != QLatin1Char('\n')) ++e;
      if (e == s && e < length) ++e;
      *start = s;
      *end = e;
      return;
    }
    case QAccessible::SentenceBoundary:
    case QAccessible::ParagraphBoundary:
    case QAccessible::LineBoundary: {
      int s = offset, e = offset;
      while (s > 0 && text.at(s - 1) != QLatin1Char('\n')) --s;
      while (e < length && text.at(e) != QLatin1Char('\n')) ++e;
      if (e < length) ++e;  // with its LF
      *start = s;
      *end = e;
      return;
    }
    case QAccessible::NoBoundary:
      break;
  }
  *start = 0;
  *end = length;
}

class ConsoleAccessible : public QAccessibleWidget, public QAccessibleTextInterface {
 public:
  explicit ConsoleAccessible(ConsoleView* view)
      : QAccessibleWidget(view, QAccessible::Terminal), view_(view) {}

  void* interface_cast(QAccessible::InterfaceType type) override {
    if (type == QAccessible::TextInterface) return static_cast<QAccessibleTextInterface*>(this);
    return QAccessibleWidget::interface_cast(type);
  }
  QAccessible::State state() const override {
    QAccessible::State state = QAccessibleWidget::state();
    state.multiLine = true;
    state.focusable = true;
    return state;
  }
  QString text(QAccessible::Text kind) const override {
    if (kind == QAccessible::Value) return Screen().text;
    return QAccessibleWidget::text(kind);
  }

  // The text interface.
  void selection(int, int* startOffset, int* endOffset) const override {
    *startOffset = *endOffset = 0;
  }
  int selectionCount() const override { return 0; }
  void addSelection(int, int) override {}
  void removeSelection(int) override {}
  void setSelection(int, int, int) override {}
  int cursorPosition() const override { return Screen().cursor; }
  void setCursorPosition(int) override {}  // the device places its cursor
  QString text(int startOffset, int endOffset) const override {
    const QString& text = Screen().text;
    int length = static_cast<int>(text.size());
    startOffset = std::clamp(startOffset, 0, length);
    endOffset = std::clamp(endOffset, startOffset, length);
    return text.mid(startOffset, endOffset - startOffset);
  }
  QString textBeforeOffset(int offset, QAccessible::TextBoundaryType boundary, int* startOffset,
                           int* endOffset) const override {
    const QString& text = Screen().text;
    int s, e;
    PieceAt(text, offset, boundary, &s, &e);
    if (s == 0) {
      *startOffset = *endOffset = 0;
      return {};
    }
    PieceAt(text, s - 1, boundary, startOffset, endOffset);
    return text.mid(*startOffset, *endOffset - *startOffset);
  }
  QString textAfterOffset(int offset, QAccessible::TextBoundaryType boundary, int* startOffset,
                          int* endOffset) const override {
    const QString& text = Screen().text;
    int s, e;
    PieceAt(text, offset, boundary, &s, &e);
    if (e >= text.size()) {
      *startOffset = *endOffset = static_cast<int>(text.size());
      return {};
    }
    PieceAt(text, e, boundary, startOffset, endOffset);
    return text.mid(*startOffset, *endOffset - *startOffset);
  }
  QString textAtOffset(int offset, QAccessible::TextBoundaryType boundary, int* startOffset,
                       int* endOffset) const override {
    const QString& text = Screen().text;
    PieceAt(text, offset, boundary, startOffset, endOffset);
    return text.mid(*startOffset, *endOffset - *startOffset);
  }
  int characterCount() const override { return static_cast<int>(Screen().text.size()); }
  QRect characterRect(int offset) const override {
    const AccessibleScreen& screen = Screen();
    if (offset < 0 || offset >= static_cast<int>(screen.rowOf.size())) return {};
    int row = screen.rowOf[static_cast<size_t>(offset)];
    if (row < 0) return {};
    QRect cell = view_->CellRect(row, screen.columnOf[static_cast<size_t>(offset)]);
    return QRect(view_->viewport()->mapToGlobal(cell.topLeft()), cell.size());
  }
  int offsetAtPoint(const QPoint& point) const override {
    QPoint local = view_->viewport()->mapFromGlobal(point);
    auto [row, column] = view_->CellAt(local);
    const AccessibleScreen& screen = Screen();
    if (row < 0 || row >= static_cast<int>(screen.lineStarts.size())) return -1;
    int offset = screen.lineStarts[static_cast<size_t>(row)];
    while (offset < static_cast<int>(screen.rowOf.size()) &&
           screen.rowOf[static_cast<size_t>(offset)] == row &&
           screen.columnOf[static_cast<size_t>(offset)] < column) {
      ++offset;
    }
    return offset;
  }
  void scrollToSubstring(int, int) override { view_->Follow(); }
  QString attributes(int offset, int* startOffset, int* endOffset) const override {
    *startOffset = *endOffset = offset;
    return {};
  }

 private:
  const AccessibleScreen& Screen() const { return view_->Accessible(); }

  ConsoleView* view_;
};

QAccessibleInterface* Factory(const QString& className, QObject* object) {
  if (className == QLatin1String("quorvel::ConsoleView") && object && object->isWidgetType()) {
    return new ConsoleAccessible(static_cast<ConsoleView*>(object));
  }
  return nullptr;
}

}  // namespace

AccessibleScreen AccessibleScreenOf(const ScreenCopy& screen) {
  AccessibleScreen out;
  for (int r = 0; r < static_cast<int>(screen.screen.size()); ++r) {
    if (r > 0) {
      out.text += QLatin1Char('\n');
      out.rowOf.push_back(-1);
      out.columnOf.push_back(-1);
    }
    out.lineStarts.push_back(static_cast<int>(out.text.size()));
    const ConsoleRow& row = screen.screen[static_cast<size_t>(r)];
    int columns = static_cast<int>(row.cells.size());
    bool cursorRow = r == screen.cursor.row;
    int end = columns;
    while (end > 0 && Blank(row.cells[static_cast<size_t>(end - 1)].ch) &&
           !row.cells[static_cast<size_t>(end - 1)].marked) {
      --end;
    }
    if (cursorRow) end = std::max(end, std::min(screen.cursor.column, columns));
    for (int c = 0; c < end; ++c) {
      const Cell& cell = row.cells[static_cast<size_t>(c)];
      if (cursorRow && c == screen.cursor.column) out.cursor = static_cast<int>(out.text.size());
      if (cell.ch == kWideTail) continue;
      qsizetype before = out.text.size();
      AppendCodePoint(out.text, cell.ch == 0 ? U' ' : cell.ch);
      if (cell.marked) {
        for (char32_t mark : row.MarksAt(c)) AppendCodePoint(out.text, mark);
      }
      for (qsizetype i = before; i < out.text.size(); ++i) {
        out.rowOf.push_back(r);
        out.columnOf.push_back(c);
      }
    }
    if (cursorRow && screen.cursor.column >= end) out.cursor = static_cast<int>(out.text.size());
  }
  return out;
}

void InstallConsoleAccessible() {
  static bool installed = false;
  if (installed) return;
  installed = true;
  QAccessible::installFactory(Factory);
}

}  // namespace quorvel
