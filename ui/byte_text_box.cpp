#include "ui/byte_text_box.h"

#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QMimeData>
#include <QScrollBar>
#include <QTextDocument>

#include "ui/message_box.h"
#include "ui/typed_text.h"

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

namespace {

// The box's text with every line break as CR LF. toRawText keeps every
// character as typed (toPlainText would turn a no-break space, byte A0, into
// a space); paragraph and line separators are the box's line breaks.
QString TextWithCrLf(const QTextDocument& document) {
  QString raw = document.toRawText();
  QString text;
  text.reserve(raw.size() + 16);
  for (QChar c : raw) {
    if (c == QChar::ParagraphSeparator || c == QChar::LineSeparator || c == u'\n') {
      text += QStringLiteral("\r\n");
    } else {
      text += c;
    }
  }
  return text;
}

}  // namespace

std::string ByteTextBox::Bytes() const {
  return BytesFromText(TextWithCrLf(*document()));
}

std::optional<std::string> ByteTextBox::TypedBytes(char32_t* refused) const {
  EncodedText encoded = BytesOfText(TextWithCrLf(*document()), encoding_);
  if (!encoded.refused) return std::move(encoded.bytes);
  if (refused) *refused = *encoded.refused;
  return std::nullopt;
}

void ByteTextBox::SetBytes(std::string_view bytes) {
  setPlainText(ShownText(bytes, encoding_));
  document()->setModified(false);
  ScrollToTop();
}

bool ByteTextBox::SetTypedEncoding(TextEncoding encoding, std::string_view refusal,
                                   char32_t* refused) {
  EncodedText encoded = BytesOfText(document()->toRawText(), encoding);
  if (encoded.refused) {
    if (refused) *refused = *encoded.refused;
    return false;
  }
  encoding_ = encoding;
  refusal_ = refusal;
  // An undo must not bring back a character typed under the other encoding.
  document()->clearUndoRedoStacks();
  return true;
}

bool ByteTextBox::Refuses(const QString& text) {
  if (refusal_.empty()) return false;
  EncodedText encoded = BytesOfText(text, encoding_);
  if (!encoded.refused) return false;
  ShowWarning(window(), QString::fromStdString(
                            RefusedCharacterMessage(refusal_, *encoded.refused, encoding_)));
  return true;
}

void ByteTextBox::inputMethodEvent(QInputMethodEvent* event) {
  if (Refuses(event->commitString())) {
    // What was being composed goes, with the character that was refused.
    QInputMethodEvent nothing;
    QPlainTextEdit::inputMethodEvent(&nothing);
    event->accept();
    return;
  }
  QPlainTextEdit::inputMethodEvent(event);
}

void ByteTextBox::insertFromMimeData(const QMimeData* source) {
  if (source->hasText() && Refuses(source->text())) return;
  QPlainTextEdit::insertFromMimeData(source);
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
  if (Refuses(event->text())) {
    event->accept();
    return;
  }
  QPlainTextEdit::keyPressEvent(event);
}

}  // namespace quorvel
