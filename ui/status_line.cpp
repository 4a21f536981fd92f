#include "ui/status_line.h"

#include <QFontMetrics>
#include <QHBoxLayout>
#include <QLabel>

namespace quorvel {
namespace {

constexpr int kPaddingPixels = 6;

const char* AccessibleNameOf(StatusLine::Field field) {
  switch (field) {
    case StatusLine::Field::kLink:
      return "Link";
    case StatusLine::Field::kConsole:
      return "Console";
    case StatusLine::Field::kLines:
      return "Modem lines";
    case StatusLine::Field::kFlow:
      return "Flow control";
    case StatusLine::Field::kTransfer:
      return "File send";
    case StatusLine::Field::kLog:
      return "Logging";
    case StatusLine::Field::kRules:
      return "Answer rules";
    case StatusLine::Field::kSend:
      return "Sending";
    case StatusLine::Field::kSettings:
      return "Settings file";
    case StatusLine::Field::kFileTransfer:
      return "File transfer";
    case StatusLine::Field::kNotices:
      return "Start notices";
    case StatusLine::Field::kScript:
      return "Script";
    case StatusLine::Field::kPane:
      return "Commands act on";
    case StatusLine::Field::kLinkPair:
      return "Linked ports";
    case StatusLine::Field::kPort2Transfer:
      return "Port 2 file transfer";
  }
  return "";
}

}  // namespace

StatusLine::StatusLine(QWidget* parent) : QFrame(parent) {
  setFrameShape(QFrame::StyledPanel);
  setFrameShadow(QFrame::Sunken);
  auto* layout = new QHBoxLayout(this);
  layout->setContentsMargins(4, 0, 4, 0);
  layout->setSpacing(12);
  for (int i = 0; i < kFieldCount; ++i) {
    auto* label = new QLabel(this);
    // Device paths and file names come from outside: never markup.
    label->setTextFormat(Qt::PlainText);
    label->hide();
    layout->addWidget(label);
    labels_[static_cast<size_t>(i)] = label;
  }
  layout->addStretch(1);
}

void StatusLine::SetText(Field field, const QString& text) {
  QLabel* label = Label(field);
  if (label->text() == text) return;  // no relayout for a repeat
  label->setText(text);
  // Announced as the field and what it says now, never a name set once.
  label->setAccessibleName(
      QStringLiteral("%1: %2").arg(QString::fromLatin1(AccessibleNameOf(field)), text));
  label->setVisible(!text.isEmpty());
}

QString StatusLine::Text(Field field) const {
  return Label(field)->text();
}

QLabel* StatusLine::Label(Field field) const {
  return labels_[static_cast<size_t>(field)];
}

int StatusLine::HeightFor(const QFontMetrics& metrics) {
  return metrics.height() + kPaddingPixels;
}

}  // namespace quorvel
