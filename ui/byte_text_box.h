// The multi-line boxes of the window (send box and receive box) and the byte
// text they hold.
//
// Byte text is 8-bit: Latin-1 stands in for the ANSI code page, so every byte
// is one character and back. The boxes keep line breaks as paragraphs; in the
// terminal's byte text a line break is CR LF.
#pragma once

#include <QPlainTextEdit>
#include <QString>
#include <string>
#include <string_view>

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

  // The box's text with every line break as CR LF.
  std::string Bytes() const;

  // Replaces the text and shows it from its first line; CR LF, a lone CR and
  // a lone LF each show as a line break.
  void SetBytes(std::string_view bytes);

  // Shows the text from its first line, wherever the user scrolled.
  void ScrollToTop();

 protected:
  void keyPressEvent(QKeyEvent* event) override;
};

}  // namespace quorvel
