#include "ui/message_box.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QMessageBox>

namespace quorvel {
namespace {

MessagePresenter& Presenter() {
  static MessagePresenter presenter;
  return presenter;
}

// The messages a MessageHold keeps; null while none lives.
QStringList*& Held() {
  static QStringList* held = nullptr;
  return held;
}

// Elides each run of non-space characters of `line` longer than kLongestRun.
QString ElideRuns(const QString& line) {
  QString shown;
  qsizetype start = 0;
  while (start < line.size()) {
    qsizetype end = start;
    bool space = line[start].isSpace();
    while (end < line.size() && line[end].isSpace() == space) ++end;
    QString part = line.mid(start, end - start);
    shown += space ? part : ElideMiddle(part, kLongestRun);
    start = end;
  }
  return shown;
}

}  // namespace

QString ElideMiddle(const QString& text, int width) {
  if (text.size() <= width || width < 3) return text;
  qsizetype head = (width - 1) / 2;
  qsizetype tail = width - 1 - head;
  // A character beyond 16 bits is never split between its halves.
  if (head > 0 && text[head - 1].isHighSurrogate()) --head;
  if (tail > 0 && text[text.size() - tail].isLowSurrogate()) --tail;
  return text.left(head) + QStringLiteral("\u2026") + text.right(tail);
}

QString ShownMessageText(const QString& text) {
  QStringList lines = text.split(QLatin1Char('\n'));
  for (QString& line : lines) line = ElideMiddle(ElideRuns(line), kLongestLine);
  return lines.join(QLatin1Char('\n'));
}

void ShowWarning(QWidget* parent, const QString& text) {
  if (QStringList* held = Held()) {
    held->append(text);
    return;
  }
  QString shown = ShownMessageText(text);
  if (MessagePresenter presenter = Presenter()) {
    presenter(parent, shown);
    return;
  }
  QMessageBox box(QMessageBox::Warning, MessageTitle(), shown, QMessageBox::Ok, parent);
  box.setTextFormat(Qt::PlainText);
  if (shown != text) box.setDetailedText(text);
  box.exec();
}

MessagePresenter SetMessagePresenter(MessagePresenter presenter) {
  MessagePresenter previous = std::move(Presenter());
  Presenter() = std::move(presenter);
  return previous;
}

QString MessageTitle() {
  QString name = QFileInfo(QCoreApplication::applicationFilePath()).fileName();
  return name.isEmpty() ? QStringLiteral("quorvel") : name;
}

MessageHold::MessageHold() : outer_(Held()) {
  Held() = &held_;
}

MessageHold::~MessageHold() {
  Release();
}

QStringList MessageHold::Release() {
  if (holding_) Held() = outer_;
  holding_ = false;
  return std::move(held_);
}

}  // namespace quorvel
