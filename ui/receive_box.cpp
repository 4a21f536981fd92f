#include "ui/receive_box.h"

#include <QAbstractTextDocumentLayout>
#include <QFontMetricsF>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <algorithm>
#include <cmath>

namespace quorvel {

ReceiveBox::ReceiveBox(QWidget* parent) : ByteTextBox(parent), pacer_(this) {
  // Every refresh changes the text; an undo history would only grow.
  setUndoRedoEnabled(false);
  // Latin-1 needs no shaping; skipping it makes laying out a screenful of a
  // new log several times cheaper. Only that is the box's own: family and
  // size follow the window's text size.
  QFont boxFont;
  boxFont.setStyleStrategy(QFont::PreferNoShaping);
  setFont(boxFont);
}

void ReceiveBox::resizeEvent(QResizeEvent* event) {
  ByteTextBox::resizeEvent(event);
  Regroup();
}

void ReceiveBox::changeEvent(QEvent* event) {
  ByteTextBox::changeEvent(event);
  if (event->type() == QEvent::FontChange) Regroup();
}

void ReceiveBox::Regroup() {
  // Hex text is cut into lines by the box's width; a wider box or a smaller
  // text takes more groups on each line. What the user typed stays until
  // the next refresh replaces it.
  if (!hex_ || Edited() || MeasureGroupsPerLine() == groupsPerLine_) return;
  std::string text = shown_;
  Show(text, true);
}

bool ReceiveBox::Edited() const {
  return document()->isModified();
}

bool ReceiveBox::CanAppend(std::string_view text, bool hex) const {
  return hex == hex_ && !Edited() && text.size() >= shown_.size() &&
         text.compare(0, shown_.size(), shown_) == 0;
}

void ReceiveBox::setVisible(bool visible) {
  ByteTextBox::setVisible(visible);
  if (visible && behind_) {
    behind_ = false;
    std::string text = shown_;
    Show(text, hex_);
  }
}

void ReceiveBox::Show(std::string_view text, bool hex) {
  if (isHidden()) {
    // Laid out when shown again; what the box held before is replaced.
    hex_ = hex;
    shown_.assign(text);
    behind_ = true;
    document()->setModified(false);
    return;
  }
  hex_ = hex;
  shown_.clear();
  if (hex) groupsPerLine_ = MeasureGroupsPerLine();
  QString display = DisplayText(text);
  shown_.assign(text);
  pacer_.Changing(viewport());
  {
    // The scroll bar's range would be found at once by laying out the last
    // screenful of lines; it can wait for the frame's end.
    QSignalBlocker quiet(document()->documentLayout());
    setPlainText(display);
  }
  viewport()->update();
  pacer_.AtFrameEnd([this] { UpdateScrollRange(); });
  document()->setModified(false);
  ScrollToTop();
}

void ReceiveBox::Append(std::string_view tail) {
  if (isHidden()) {
    shown_.append(tail);
    behind_ = behind_ || !tail.empty();
    return;
  }
  if (!tail.empty()) {
    QString display = DisplayText(tail);
    shown_.append(tail);
    bool inView = EndInView();
    if (inView) pacer_.Changing(viewport());
    {
      // The box would answer the change with a repaint of all it shows, and
      // a change inside the last paragraph also with a layout of every line
      // from its top down to it (to find where it is). Text added below what
      // it shows needs neither.
      QSignalBlocker quiet(document()->documentLayout());
      QTextCursor end(document());
      end.movePosition(QTextCursor::End);
      end.insertText(display);
    }
    if (inView) viewport()->update();
    pacer_.AtFrameEnd([this] { UpdateScrollRange(); });
    document()->setModified(false);
  }
  ScrollToTop();
}

void ReceiveBox::UpdateScrollRange() {
  QAbstractTextDocumentLayout* layout = document()->documentLayout();
  Q_EMIT layout->documentSizeChanged(layout->documentSize());
}

bool ReceiveBox::EndInView() const {
  QTextBlock last = document()->lastBlock();
  QTextBlock block = firstVisibleBlock();
  if (!block.isValid()) return true;
  qreal top = blockBoundingGeometry(block).translated(contentOffset()).top();
  int height = viewport()->height();
  for (; block.isValid() && top <= height; block = block.next()) {
    if (block == last) return true;
    top += blockBoundingRect(block).height();
  }
  return false;
}

QString ReceiveBox::DisplayText(std::string_view tail) const {
  QString display;
  display.reserve(static_cast<qsizetype>(tail.size() + tail.size() / 16 + 1));
  if (hex_) {
    // Groups of three characters; a paragraph starts at every
    // groupsPerLine_-th group, counted from the start of the log.
    size_t at = shown_.size();
    for (char c : tail) {
      if (at % 3 == 0 && at > 0 && (at / 3) % static_cast<size_t>(groupsPerLine_) == 0) {
        display.append(u'\n');
      }
      display.append(QChar(static_cast<unsigned char>(c)));
      ++at;
    }
    return display;
  }
  bool afterCr = !shown_.empty() && shown_.back() == '\r';
  for (char c : tail) {
    if (c == '\n' && afterCr) {
      afterCr = false;  // the second half of CR LF; the CR made the break
      continue;
    }
    afterCr = c == '\r';
    display.append(c == '\r' ? QChar(u'\n') : QChar(static_cast<unsigned char>(c)));
  }
  return display;
}

int ReceiveBox::MeasureGroupsPerLine() const {
  QFontMetricsF metrics(font());
  qreal widestDigit = 0;
  for (char16_t digit : u"0123456789abcdef") {
    if (digit) widestDigit = std::max(widestDigit, metrics.horizontalAdvance(QChar(digit)));
  }
  qreal group = 2 * widestDigit + metrics.horizontalAdvance(QChar(u' '));
  // The text's width: the box less its frame, its scroll bar, the document's
  // margins and the cursor; taken from the box itself, since the viewport of a
  // box not yet shown has no size yet.
  qreal width = contentsRect().width() - verticalScrollBar()->sizeHint().width() -
                2 * document()->documentMargin() - 2;
  return std::max(1, static_cast<int>(std::floor(width / group)));
}

}  // namespace quorvel
