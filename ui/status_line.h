// The one line across the bottom of the window that tells what the line is
// doing: the device and its state, the console's grid while it shows, the
// modem lines, the flow control in force, a file being sent and the log being
// written, where the settings go when the settings file could not be used,
// what the start had to tell, which pane the port's commands act on, a
// monitored or bridged link and the second port's file transfer. Each field is a label of its own;
// a field with no text takes no room.
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
    kConsole,
    kLines,
    kFlow,
    kTransfer,
    kLog,
    kRules,
    kSend,
    kSettings,
    kFileTransfer,
    kNotices,
    kScript,
    kPane,          // which port the port's commands act on, once there are two
    kLinkPair,      // a monitored or bridged link and its two sides
    kPort2Transfer  // the second port's file transfer
  };
  static constexpr int kFieldCount = 15;

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
