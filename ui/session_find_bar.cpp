#include "ui/session_find_bar.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QToolButton>

#include "ui/session_view.h"

namespace quorvel {

SessionFindBar::SessionFindBar(SessionStore& store, SessionView& view,
                               std::function<SessionEncoding()> encoding, QWidget* parent)
    : QWidget(parent), store_(store), view_(view), encoding_(std::move(encoding)) {
  setObjectName(QStringLiteral("findBar"));
  setAutoFillBackground(true);
  auto* row = new QHBoxLayout(this);
  row->setContentsMargins(2, 1, 2, 1);
  row->setSpacing(3);
  text_ = new QLineEdit(this);
  text_->setObjectName(QStringLiteral("findText"));
  text_->setAccessibleName(QStringLiteral("Find"));
  text_->setPlaceholderText(QStringLiteral("Find"));
  auto* previous = new QToolButton(this);
  previous->setObjectName(QStringLiteral("findPrevious"));
  previous->setText(QStringLiteral("\u25B2"));  // ▲
  previous->setToolTip(QStringLiteral("Previous (Shift+Enter)"));
  auto* next = new QToolButton(this);
  next->setObjectName(QStringLiteral("findNext"));
  next->setText(QStringLiteral("\u25BC"));  // ▼
  next->setToolTip(QStringLiteral("Next (Enter)"));
  matchCase_ = new QCheckBox(QStringLiteral("Aa"), this);
  matchCase_->setObjectName(QStringLiteral("matchCase"));
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
  connect(close, &QToolButton::clicked, this, [this] {
    hide();
    Q_EMIT Closed();
  });
  connect(text_, &QLineEdit::textEdited, this, [this] { status_->clear(); });
}

void SessionFindBar::Open() {
  show();
  raise();
  text_->setFocus(Qt::ShortcutFocusReason);
  text_->selectAll();
}

QString SessionFindBar::StatusText() const {
  return status_->text();
}

bool SessionFindBar::Find(bool forward) {
  std::optional<std::vector<uint8_t>> pattern =
      FindPattern(text_->text().toStdString(), view_.Display(), encoding_());
  if (!pattern) {
    status_->setText(text_->text().isEmpty()                   ? QString()
                     : view_.Display() == SessionDisplay::kHex ? QStringLiteral("Not hex bytes")
                                                               : QStringLiteral("Cannot be shown"));
    return false;
  }
  SessionQuery query{std::move(*pattern), matchCase_->isChecked()};
  std::optional<SessionMatch> match = store_.Find(view_.Display(), query, view_.FindStart(forward),
                                                  forward ? FindWay::kForward : FindWay::kBackward);
  if (!match) {
    view_.SetMatch(0, 0);
    status_->setText(QStringLiteral("Not found"));
    return false;
  }
  view_.SetMatch(match->offset, match->length);
  view_.ShowLine(match->line);
  status_->setText(match->wrapped ? QStringLiteral("Wrapped") : QString());
  return true;
}

void SessionFindBar::keyPressEvent(QKeyEvent* event) {
  switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
      Find(!(event->modifiers() & Qt::ShiftModifier));
      event->accept();  // never the window's Enter
      return;
    case Qt::Key_Escape:
      hide();
      Q_EMIT Closed();
      event->accept();
      return;
    default:
      QWidget::keyPressEvent(event);
  }
}

}  // namespace quorvel
