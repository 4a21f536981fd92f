// The console's find bar (the window's Find command while the console
// shows): text found over the console's scrollback and screen; Enter and
// Shift+Enter go to the next and the previous match round the ends, the
// match is marked and brought into sight; Escape closes the bar and gives
// the keys back to the console. UI thread.
#pragma once

#include <QWidget>

class QCheckBox;
class QLabel;
class QLineEdit;

namespace quorvel {

class ConsoleView;

class ConsoleFindBar : public QWidget {
  Q_OBJECT

 public:
  ConsoleFindBar(ConsoleView& view, QWidget* parent);

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
  void Close();

  ConsoleView& view_;
  QLineEdit* text_;
  QCheckBox* matchCase_;
  QLabel* status_;
};

}  // namespace quorvel
