// The Script pane's editor: plain text in a fixed-pitch font, with the line
// numbers in a margin at its left, so that "board.lua:12:" in a message is
// found at a glance. UI thread.
#pragma once

#include <QPlainTextEdit>

namespace quorvel {

class ScriptEditor : public QPlainTextEdit {
 public:
  explicit ScriptEditor(QWidget* parent);

  // The margin's width for the number of lines there are now.
  int NumberWidth() const;
  // Puts the cursor at the start of `line` (from 1) and shows it.
  void GoToLine(int line);

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private:
  class Margin;
  void PaintNumbers(QPaintEvent* event);

  Margin* margin_;
};

}  // namespace quorvel
