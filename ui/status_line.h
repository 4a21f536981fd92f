// The one line across the bottom of the window that tells what the line is
// doing: the device and its state, the modem lines, the flow control in
// force, a file being sent and the log being written, and where the
// settings go when the settings file could not be used. Each field is a label
// of its own; a field with no text takes no room.
#pragma once

#include <QFrame>
#include <QString>
#include <array>

class QLabel;

namespace quorvel {

class StatusLine : public QFrame {
 public:
  enum class Field {
    kLink,
    kLines,
    kFlow,
    kTransfer,
    kLog,
    kRules,
    kSend,
    kSettings,
    kFileTransfer
  };
  static constexpr int kFieldCount = 9;

  explicit StatusLine(QWidget* parent);

  // Shows `text` in `field`; an empty text hides the field.
  void SetText(Field field, const QString& text);
  QString Text(Field field) const;
  // The field's label, for a tooltip or a test.
  QLabel* Label(Field field) const;

  // The height the line needs with the window's font.
  static int HeightFor(const QFontMetrics& metrics);

 private:
  std::array<QLabel*, kFieldCount> labels_{};
};

}  // namespace quorvel
