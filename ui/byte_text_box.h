// The multi-line boxes of the window (send box and receive box) and the byte
// text they hold.
//
// Byte text is 8-bit: Latin-1 stands in for the ANSI code page, so every byte
// is one character and back. A box where sends are typed takes the encoding
// chosen in "Send options" instead (SetTypedEncoding). The boxes keep line
// breaks as paragraphs; in the terminal's byte text a line break is CR LF.
#pragma once

#include <QPlainTextEdit>
#include <QString>
#include <optional>
#include <string>
#include <string_view>

#include "sending/text_encoding.h"

namespace quorvel {

// Each byte as the Latin-1 character of the same value.
QString TextFromBytes(std::string_view bytes);

// Each character as its Latin-1 byte; a character Latin-1 cannot hold (a
// surrogate pair counts as one character) becomes '?'.
std::string BytesFromText(QStringView text);

// A multi-line box that wraps at its right edge. As in a dialog, Enter does
// not insert a line break (it goes to the window, where it does nothing) and
// Tab moves the focus; Ctrl+Enter inserts a line break.
class ByteTextBox : public QPlainTextEdit {
  Q_OBJECT

 public:
  explicit ByteTextBox(QWidget* parent);

  // The box's text with every line break as CR LF, each character as its
  // Latin-1 byte and '?' for one Latin-1 cannot hold (the receive box).
  std::string Bytes() const;

  // The box's text with every line break as CR LF, in the box's encoding;
  // nothing when it holds a character the encoding cannot carry (`refused`
  // names it then), which only text put in by code can do.
  std::optional<std::string> TypedBytes(char32_t* refused = nullptr) const;

  // Replaces the text with `bytes` in the box's encoding and shows it from
  // its first line; CR LF, a lone CR and a lone LF each show as a line break.
  void SetBytes(std::string_view bytes);

  // Makes this a box where sends are typed, its text bytes in `encoding`: a
  // character the encoding cannot carry is refused as it is typed, pasted or
  // dropped, with a message that opens with `refusal` ("The send box takes
  // no") and names it. False, changing nothing, when the box holds such a
  // character now (`refused` names it then). Undoing stops at the change.
  bool SetTypedEncoding(TextEncoding encoding, std::string_view refusal,
                        char32_t* refused = nullptr);
  TextEncoding Encoding() const { return encoding_; }

  // Shows the text from its first line, wherever the user scrolled.
  void ScrollToTop();

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void inputMethodEvent(QInputMethodEvent* event) override;
  void insertFromMimeData(const QMimeData* source) override;

 private:
  // Whether `text` holds a character the box's encoding cannot carry; says
  // so when it does.
  bool Refuses(const QString& text);

  TextEncoding encoding_ = TextEncoding::kLatin1;
  std::string refusal_;  // empty: the box takes any character (the receive box)
};

}  // namespace quorvel
