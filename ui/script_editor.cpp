#include "ui/script_editor.h"

#include <QFontDatabase>
#include <QPainter>
#include <QTextBlock>

namespace quorvel {

class ScriptEditor::Margin : public QWidget {
 public:
  explicit Margin(ScriptEditor& editor) : QWidget(&editor), editor_(editor) {}
  QSize sizeHint() const override { return {editor_.NumberWidth(), 0}; }

 protected:
  void paintEvent(QPaintEvent* event) override { editor_.PaintNumbers(event); }

 private:
  ScriptEditor& editor_;
};

ScriptEditor::ScriptEditor(QWidget* parent) : QPlainTextEdit(parent), margin_(new Margin(*this)) {
  setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  setLineWrapMode(QPlainTextEdit::NoWrap);
  setTabStopDistance(fontMetrics().horizontalAdvance(QLatin1Char(' ')) * 2);
  connect(this, &QPlainTextEdit::blockCountChanged, this,
          [this] { setViewportMargins(NumberWidth(), 0, 0, 0); });
  connect(this, &QPlainTextEdit::updateRequest, this, [this](const QRect& rect, int dy) {
    if (dy != 0) {
      margin_->scroll(0, dy);
    } else {
      margin_->update(0, rect.y(), margin_->width(), rect.height());
    }
  });
  setViewportMargins(NumberWidth(), 0, 0, 0);
}

int ScriptEditor::NumberWidth() const {
  int digits = QString::number(std::max(1, blockCount())).size();
  return 8 + fontMetrics().horizontalAdvance(QLatin1Char('9')) * std::max(3, digits);
}

void ScriptEditor::GoToLine(int line) {
  QTextBlock block = document()->findBlockByNumber(line - 1);
  if (!block.isValid()) return;
  QTextCursor cursor(block);
  setTextCursor(cursor);
  centerCursor();
  setFocus(Qt::OtherFocusReason);
}

void ScriptEditor::resizeEvent(QResizeEvent* event) {
  QPlainTextEdit::resizeEvent(event);
  QRect area = contentsRect();
  margin_->setGeometry(QRect(area.left(), area.top(), NumberWidth(), area.height()));
}

void ScriptEditor::PaintNumbers(QPaintEvent* event) {
  QPainter painter(margin_);
  painter.fillRect(event->rect(), palette().alternateBase());
  painter.setPen(palette().placeholderText().color());
  QTextBlock block = firstVisibleBlock();
  int top = qRound(blockBoundingGeometry(block).translated(contentOffset()).top());
  int height = fontMetrics().height();
  while (block.isValid() && top <= event->rect().bottom()) {
    if (block.isVisible()) {
      painter.drawText(0, top, margin_->width() - 4, height, Qt::AlignRight,
                       QString::number(block.blockNumber() + 1));
    }
    top += qRound(blockBoundingRect(block).height());
    block = block.next();
  }
}

}  // namespace quorvel
