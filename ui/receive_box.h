// The receive box: shows the receive text, and stays cheap while a fast line
// keeps changing it.
//
// A refresh usually only adds a burst to the end of the log, so the box gets
// just the new part appended; anything else (a cleared or overflowed log, a
// change between text and hex, the user's typing) replaces the whole text.
// CR LF, a lone CR and a lone LF each show as one line break. Hex text has no
// breaks of its own, and one paragraph of 30,000 characters costs
// milliseconds to lay out at every change; so it is shown as one paragraph per
// line of the box, each with as many byte groups as surely fit, which looks
// the same as wrapping at the right edge (and is cut anew when the box is
// resized or its text size changes).
//
// The text itself always changes at once. Only the painting is paced: a change
// is painted at once, and further changes within the next frame (16 ms) are
// painted together at its end, so a line delivering thousands of bursts a
// second costs sixty repaints, not thousands. Text added below what the box
// shows is not painted at all.
//
// While the box is hidden (the session view in its place), it only keeps the
// text it is given, and lays none of it out: when it is shown again, it shows
// that text, exactly as if it had followed every change.
#pragma once

#include <string>
#include <string_view>

#include "ui/byte_text_box.h"
#include "ui/repaint_pacer.h"

namespace quorvel {

class ReceiveBox : public ByteTextBox {
  Q_OBJECT

 public:
  explicit ReceiveBox(QWidget* parent);

  // Shows `text`, the receive text rendered as hex when `hex` is set, from its
  // first line.
  void Show(std::string_view text, bool hex);

  // Whether `text` (rendered as `hex` says) only adds to what the box shows,
  // so that Append(the rest) brings it up to `text`.
  bool CanAppend(std::string_view text, bool hex) const;
  void Append(std::string_view tail);

  // The receive text the box shows, unless the user edited it since.
  const std::string& Shown() const { return shown_; }
  bool Edited() const;

  // Every held repaint made, the scroll range current.
  bool Settled() const { return pacer_.Idle(); }

  // Byte groups ("xx ") that fit on one line of the box.
  int GroupsPerLine() const { return groupsPerLine_; }

  // Shows what it was given while hidden.
  void setVisible(bool visible) override;

 protected:
  void resizeEvent(QResizeEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  // Shows the hex text again when the box's width or font changed how many
  // groups fit on a line.
  void Regroup();
  // The box's text for `tail` following shown_.
  QString DisplayText(std::string_view tail) const;
  int MeasureGroupsPerLine() const;
  bool EndInView() const;
  // The scroll bar's range, for the text as it is now.
  void UpdateScrollRange();

  std::string shown_;
  bool hex_ = false;
  bool behind_ = false;  // shown_ changed while hidden: the document is older
  int groupsPerLine_ = 1;
  RepaintPacer pacer_;
};

}  // namespace quorvel
