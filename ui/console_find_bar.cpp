#include "ui/console_find_bar.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QToolButton>

#include "ui/console_view.h"

namespace quorvel {

ConsoleFindBar::ConsoleFindBar(ConsoleView& view, QWidget* parent) : QWidget(parent), view_(view) {
  setObjectName(QStringLiteral("consoleFindBar"));
  setAutoFillBackground(true);
  auto* row = new QHBoxLayout(this);
  row->setContentsMargins(2, 1, 2, 1);
  row->setSpacing(3);
  text_ = new QLineEdit(this);
  text_->setObjectName(QStringLiteral("consoleFindText"));
  text_->setAccessibleName(QStringLiteral("Find in console"));
  text_->setPlaceholderText(QStringLiteral("Find in console"));
  auto* previous = new QToolButton(this);
  previous->setText(QStringLiteral("\u25B2"));  // ▲
  previous->setToolTip(QStringLiteral("Previous (Shift+Enter)"));
  auto* next = new QToolButton(this);
  next->setText(QStringLiteral("\u25BC"));  // ▼
  next->setToolTip(QStringLiteral("Next (Enter)"));
  matchCase_ = new QCheckBox(QStringLiteral("Aa"), this);
  matchCase_->setToolTip(QStringLiteral("Match case"));
  status_ = new QLabel(this);
  auto* close = new QToolButton(this);
  close->setText(QStringLiteral("\u2715"));  // ✕
  close->setToolTip(QStringLiteral("Close (Escape)"));
  row->addWidget(text_, 1);
  row->addWidget(previous);
  row->addWidget(next);
  row->addWidget(matchCase_);
  row->addWidget(status_);
  row->addWidget(close);
  connect(previous, &QToolButton::clicked, this, [this] { Find(false); });
  connect(next, &QToolButton::clicked, this, [this] { Find(true); });
  connect(close, &QToolButton::clicked, this, &ConsoleFindBar::Close);
  connect(text_, &QLineEdit::textEdited, this, [this] { status_->clear(); });
}

void ConsoleFindBar::Open() {
  show();
  raise();
  text_->setFocus(Qt::ShortcutFocusReason);
  text_->selectAll();
}

QString ConsoleFindBar::StatusText() const {
  return status_->text();
}

bool ConsoleFindBar::Find(bool forward) {
  if (text_->text().isEmpty()) {
    status_->clear();
    return false;
  }
  bool found = view_.Find(text_->text(), forward, matchCase_->isChecked());
  if (!found) view_.ClearMatch();
  status_->setText(found ? QString() : QStringLiteral("Not found"));
  return found;
}

void ConsoleFindBar::Close() {
  hide();
  view_.ClearMatch();
  Q_EMIT Closed();
}

void ConsoleFindBar::keyPressEvent(QKeyEvent* event) {
  switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
      Find(!(event->modifiers() & Qt::ShiftModifier));
      event->accept();  // never the window's Enter
      return;
    case Qt::Key_Escape:
      Close();
      event->accept();
      return;
    default:
      QWidget::keyPressEvent(event);
  }
}

}  // namespace quorvel
