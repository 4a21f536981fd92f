#include "ui/byte_text_box.h"

#include <QKeyEvent>
#include <QScrollBar>
#include <QTextDocument>

namespace quorvel {

QString TextFromBytes(std::string_view bytes) {
  return QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

std::string BytesFromText(QStringView text) {
  std::string bytes;
  bytes.reserve(static_cast<size_t>(text.size()));
  for (qsizetype i = 0; i < text.size(); ++i) {
    char16_t unit = text[i].unicode();
    if (unit <= 0xFF) {
      bytes.push_back(static_cast<char>(unit));
      continue;
    }
    // One character that needs two UTF-16 units is still one '?'.
    if (QChar::isHighSurrogate(unit) && i + 1 < text.size() && text[i + 1].isLowSurrogate()) ++i;
    bytes.push_back('?');
  }
  return bytes;
}

ByteTextBox::ByteTextBox(QWidget* parent) : QPlainTextEdit(parent) {
  setLineWrapMode(QPlainTextEdit::WidgetWidth);
  setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  setTabChangesFocus(true);
}

std::string ByteTextBox::Bytes() const {
  // toRawText keeps every character as typed (toPlainText would turn a
  // no-break space, byte A0, into a space); paragraph and line separators are
  // the box's line breaks.
  QString raw = document()->toRawText();
  std::string bytes;
  bytes.reserve(static_cast<size_t>(raw.size()) + 16);
  qsizetype start = 0;
  for (qsizetype i = 0; i < raw.size(); ++i) {
    QChar c = raw[i];
    if (c == QChar::ParagraphSeparator || c == QChar::LineSeparator || c == u'\n') {
      bytes += BytesFromText(QStringView(raw).mid(start, i - start));
      bytes += "\r\n";
      start = i + 1;
    }
  }
  bytes += BytesFromText(QStringView(raw).mid(start));
  return bytes;
}

void ByteTextBox::SetBytes(std::string_view bytes) {
  setPlainText(TextFromBytes(bytes));
  document()->setModified(false);
  ScrollToTop();
}

void ByteTextBox::ScrollToTop() {
  verticalScrollBar()->setValue(verticalScrollBar()->minimum());
}

void ByteTextBox::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
    if (event->modifiers() & Qt::ControlModifier) {
      insertPlainText(QStringLiteral("\n"));
      event->accept();
    } else {
      event->ignore();
    }
    return;
  }
  QPlainTextEdit::keyPressEvent(event);
}

}  // namespace quorvel
