// Every message box of the terminal: modal, only OK, a warning icon, and the
// executable's base name as its title. UI thread only (the worker's messages
// reach the UI thread through the terminal state's call queue first).
//
// A message names what came from outside as it is (an entry's name from the
// settings file, a device path from the command line), so a box shows a long
// value shortened: its start and its end around a "…", with the whole text
// under "Show Details…".
#pragma once

#include <QString>
#include <QStringList>
#include <functional>

class QWidget;

namespace quorvel {

using MessagePresenter = std::function<void(QWidget* parent, const QString& text)>;

// Shows `text` and returns once it was dismissed; while a MessageHold lives,
// keeps it for later instead and returns at once.
void ShowWarning(QWidget* parent, const QString& text);

// Replaces how messages are shown, e.g. so tests can record them without a
// modal loop; an empty presenter restores the message box. The presenter
// gets the text as the box would show it (ShownMessageText). Returns the
// previous presenter (empty for the message box).
MessagePresenter SetMessagePresenter(MessagePresenter presenter);

// The title of every message box: the executable's base name.
QString MessageTitle();

// `text` as a message shows it: a run of characters without a space longer
// than kLongestRun, and a line longer than kLongestLine, keep their first and
// last characters around a "…", so the box stays narrower than a screen.
// Text within both bounds is returned as it is.
inline constexpr int kLongestRun = 120;
inline constexpr int kLongestLine = 480;
QString ShownMessageText(const QString& text);

// `text` in at most `width` characters: its start and end around a "…".
QString ElideMiddle(const QString& text, int width);

// While one lives, ShowWarning keeps each message instead of showing it: a
// window that is still being built (its port not open, nothing on screen)
// tells them once it is up. Release() hands the kept messages over, oldest
// first, and ends the hold; what was not released is dropped with it. A
// hold made while another lives keeps the messages until it ends, then the
// other keeps them again.
class MessageHold {
 public:
  MessageHold();
  ~MessageHold();
  MessageHold(const MessageHold&) = delete;
  MessageHold& operator=(const MessageHold&) = delete;

  QStringList Release();

 private:
  QStringList held_;
  QStringList* outer_;
  bool holding_ = true;
};

}  // namespace quorvel
