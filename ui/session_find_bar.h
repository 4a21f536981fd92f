// The session view's find bar (Ctrl+F): text, or hex bytes in the hex
// display, found over the whole kept history by the store; next and
// previous go round the ends (the bar says when they did); the match is
// highlighted and brought into sight. UI thread.
#pragma once

#include <QWidget>
#include <functional>

#include "history/session_lines.h"

class QCheckBox;
class QLabel;
class QLineEdit;

namespace quorvel {

class SessionView;

class SessionFindBar : public QWidget {
  Q_OBJECT

 public:
  // `encoding` tells how typed text becomes the bytes to find.
  SessionFindBar(SessionStore& store, SessionView& view, std::function<SessionEncoding()> encoding,
                 QWidget* parent);

  // Shows the bar with its text selected, ready for typing.
  void Open();
  // Finds the next (`forward`) or previous match; false when none.
  bool Find(bool forward);

  QLineEdit* TextBox() const { return text_; }
  QString StatusText() const;

 Q_SIGNALS:
  void Closed();

 protected:
  void keyPressEvent(QKeyEvent* event) override;

 private:
  SessionStore& store_;
  SessionView& view_;
  std::function<SessionEncoding()> encoding_;
  QLineEdit* text_;
  QCheckBox* matchCase_;
  QLabel* status_;
};

}  // namespace quorvel
