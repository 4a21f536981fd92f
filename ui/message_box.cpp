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

}  // namespace

void ShowWarning(QWidget* parent, const QString& text) {
  if (MessagePresenter presenter = Presenter()) {
    presenter(parent, text);
    return;
  }
  QMessageBox box(QMessageBox::Warning, MessageTitle(), text, QMessageBox::Ok, parent);
  box.setTextFormat(Qt::PlainText);
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

}  // namespace quorvel
