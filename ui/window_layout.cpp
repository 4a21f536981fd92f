#include "ui/window_layout.h"

#include <QGuiApplication>
#include <QLabel>
#include <QLayout>
#include <QScreen>
#include <QSplitter>
#include <QVBoxLayout>
#include <algorithm>
#include <numeric>

#include "ui/anchored_area.h"
#include "ui/dialog_template.h"
#include "ui/status_line.h"
#include "ui/window_placement.h"

namespace quorvel {
namespace {

constexpr int kSideHandlePixels = 6;

QSplitter* MakeSplitter(Qt::Orientation orientation, QWidget* parent) {
  auto* splitter = new QSplitter(orientation, parent);
  // A pane dragged against its neighbour stops at its minimum; none vanishes.
  splitter->setChildrenCollapsible(false);
  splitter->setHandleWidth(kSideHandlePixels);
  return splitter;
}

// Gives pane `index` of `splitter` the size `size`, the first pane the rest.
void SetPaneSize(QSplitter* splitter, int index, int size) {
  QList<int> sizes = splitter->sizes();
  if (index <= 0 || index >= sizes.size()) return;
  int total = std::accumulate(sizes.begin(), sizes.end(), 0);
  sizes[index] = size;
  sizes[0] = std::max(0, total - size);
  splitter->setSizes(sizes);
}

// The label that names `control`.
QWidget* LabelOf(QWidget* form, QWidget* control) {
  for (QLabel* label : form->findChildren<QLabel*>(Qt::FindDirectChildrenOnly)) {
    if (label->buddy() == control) return label;
  }
  return control;
}

bool Maximised(const QWidget& window) {
  return window.isMaximized() || window.isFullScreen();
}

}  // namespace

WindowLayout::WindowLayout(QWidget& window, StatusLine& status, const DialogUnits& units)
    : QObject(&window), window_(window) {
  column_ = new QVBoxLayout(&window);
  column_->setContentsMargins(0, 0, 0, 0);
  column_->setSpacing(0);
  sideSplit_ = MakeSplitter(Qt::Horizontal, &window);
  form_ = new AnchoredArea(units.ToPixels(kMainDialogDlu), sideSplit_);
  sideSplit_->addWidget(form_);
  sideSplit_->setStretchFactor(0, 1);
  column_->addWidget(sideSplit_, 1);
  // The status line takes the width it is given: a long device path is cut,
  // it never widens the window.
  status.setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
  statusHeight_ = StatusLine::HeightFor(window.fontMetrics());
  status.setFixedHeight(statusHeight_);
  column_->addWidget(&status);

  viewSplit_ = MakeSplitter(Qt::Vertical, form_);
  paneSplit_ = MakeSplitter(Qt::Horizontal, viewSplit_);
  viewPane_ = new QWidget(paneSplit_);
  viewPane_->setObjectName(QStringLiteral("viewPane"));
  viewColumn_ = new QVBoxLayout(viewPane_);
  viewColumn_->setSpacing(0);
  paneSplit_->addWidget(viewPane_);
  paneSplit_->setStretchFactor(0, 1);
}

void WindowLayout::SetMenuBar(QWidget* bar) {
  menuBar_ = bar;
  column_->setMenuBar(bar);
}

QWidget* WindowLayout::Form() const {
  return form_;
}

void WindowLayout::Arrange(const std::map<int, QWidget*>& controls) {
  QWidget* receiveBox = controls.at(kReceiveBox);
  sendBox_ = controls.at(kSendBox);
  QWidget* sendButton = controls.at(kSendButton);
  QRect view = receiveBox->geometry();
  QRect row = sendBox_->geometry().united(sendButton->geometry());
  QRect area = view.united(row);

  // The receive box fills its pane but for the strip the template leaves on
  // its right, beside the Send button's wider row.
  viewColumn_->setContentsMargins(0, 0, area.right() - view.right(), 0);
  viewColumn_->addWidget(receiveBox, 1);
  sendRow_ = new AnchoredArea(row.size(), viewSplit_);
  for (QWidget* control : {sendBox_, sendButton}) {
    QRect base = control->geometry().translated(-row.topLeft());
    control->setParent(sendRow_);
    Follow across = control == sendBox_ ? Follow::kGrow : Follow::kMove;
    sendRow_->Place(control, base, {across, Follow::kGrow});
  }
  viewSplit_->addWidget(paneSplit_);
  viewSplit_->addWidget(sendRow_);
  viewSplit_->setStretchFactor(0, 1);
  viewSplit_->setStretchFactor(1, 0);
  // The handle is the template's gap between the receive box and the row.
  viewSplit_->setHandleWidth(std::max(1, row.top() - view.bottom() - 1));

  AnchorForm(controls.at(kTxBox), row.bottom() + 1);
  form_->Place(viewSplit_, area, {Follow::kGrow, Follow::kGrow});
  viewSplit_->setSizes({view.height(), row.height()});
}

void WindowLayout::AnchorForm(QWidget* txBox, int bottomRowTop) {
  int countersLeft = LabelOf(form_, txBox)->x();
  for (QWidget* child : form_->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
    if (child == viewSplit_) continue;
    Anchor anchor;
    if (child->y() >= bottomRowTop) {
      anchor.down = Follow::kMove;
      if (child->x() >= countersLeft) anchor.across = Follow::kMove;
    }
    form_->Place(child, child->geometry(), anchor);
  }
}

void WindowLayout::AddBesideView(QWidget* pane, int width) {
  paneSplit_->addWidget(pane);
  int index = paneSplit_->indexOf(pane);
  paneSplit_->setStretchFactor(index, 0);
  if (paneWidth_ <= 0) paneWidth_ = width;
  SetPaneSize(paneSplit_, index, paneWidth_);
}

void WindowLayout::ShowBesideView(QWidget* pane, bool shown) {
  if (shown == !pane->isHidden()) return;
  int handle = paneSplit_->handleWidth();
  if (!shown) paneWidth_ = pane->width();
  QSize size = window_.size();
  pane->setVisible(shown);
  paneSplit_->refresh();
  column_->activate();
  if (!Maximised(window_)) {
    int change = paneWidth_ + handle;
    window_.resize(size.width() + (shown ? change : -change), size.height());
    column_->activate();
  }
  if (shown) SetPaneSize(paneSplit_, paneSplit_->indexOf(pane), paneWidth_);
}

void WindowLayout::SetSendList(QWidget* panel, int width) {
  sendList_ = panel;
  // A panel made after the window's sizes were restored keeps the stored width.
  if (sendListWidth_ <= 0) sendListWidth_ = width;
  sideSplit_->addWidget(panel);
  sideSplit_->setStretchFactor(1, 0);
  connect(sideSplit_, &QSplitter::splitterMoved, this,
          [this] { sendListWidth_ = sendList_->width() + sideSplit_->handleWidth(); });
}

void WindowLayout::ShowSendList(bool shown) {
  if (!sendList_ || shown == !sendList_->isHidden()) return;
  int handle = sideSplit_->handleWidth();
  if (!shown)
    sendListWidth_ = sendList_->width() + handle;  // as dragged, or as its minimum made it
  QSize size = window_.size();
  sendList_->setVisible(shown);
  // The splitter would notice at the next pass of the event loop; the
  // window's minimum, with or without the panel, is wanted now.
  sideSplit_->refresh();
  column_->activate();
  if (!Maximised(window_)) {
    window_.resize(size.width() + (shown ? sendListWidth_ : -sendListWidth_), size.height());
    column_->activate();
  }
  if (!shown) return;
  SetPaneSize(sideSplit_, 1, sendListWidth_ - handle);
  sendListWidth_ = sendList_->width() + handle;
}

void WindowLayout::SetTextPoints(int points) {
  textPoints_ = std::clamp(points, kMinTextPoints, kMaxTextPoints);
  // Only the size: the view keeps its fixed-width family, the boxes theirs.
  QFont size;
  size.setPointSize(textPoints_);
  viewPane_->setFont(size);
  if (sendBox_) sendBox_->setFont(size);
}

QSize WindowLayout::DefaultSize() const {
  int barHeight = menuBar_ ? menuBar_->heightForWidth(form_->Base().width()) : 0;
  if (barHeight < 0 && menuBar_) barHeight = menuBar_->sizeHint().height();
  QSize size(form_->Base().width(), barHeight + form_->Base().height() + statusHeight_);
  if (sendList_ && !sendList_->isHidden()) size.rwidth() += sendListWidth_;
  for (int i = 1; i < paneSplit_->count(); ++i) {
    if (!paneSplit_->widget(i)->isHidden()) size.rwidth() += paneWidth_ + paneSplit_->handleWidth();
  }
  return size.expandedTo(window_.minimumSize());
}

void WindowLayout::Restore(const WindowSettings& stored) {
  SetTextPoints(stored.textPoints);
  if (stored.sendListWidth > 0) sendListWidth_ = stored.sendListWidth;
  if (stored.paneWidth > 0) paneWidth_ = stored.paneWidth;
  // Minimum sizes are the style's once it has polished the controls; before
  // that the panes would be measured larger than they will be shown.
  window_.ensurePolished();
  column_->activate();

  QList<QRect> screens;
  for (QScreen* screen : QGuiApplication::screens()) screens.append(screen->availableGeometry());
  std::optional<QRect> fitted;
  if (const std::optional<WindowRect>& rect = stored.geometry) {
    fitted = FitStoredGeometry(QRect(rect->x, rect->y, rect->width, rect->height),
                               window_.minimumSize(), screens);
  }
  QScreen* primary = QGuiApplication::primaryScreen();
  QRect screen = primary ? primary->availableGeometry() : QRect(QPoint(0, 0), DefaultSize());
  window_.setGeometry(fitted.value_or(CentredOn(screen, DefaultSize())));
  column_->activate();

  if (stored.sendBoxHeight > 0) SetPaneSize(viewSplit_, 1, stored.sendBoxHeight);
  if (paneWidth_ > 0 && paneSplit_->count() > 1) {
    SetPaneSize(paneSplit_, paneSplit_->count() - 1, paneWidth_);
  }
  if (sendList_ && !sendList_->isHidden()) {
    SetPaneSize(sideSplit_, 1, sendListWidth_ - sideSplit_->handleWidth());
  }
  if (stored.maximized) window_.setWindowState(window_.windowState() | Qt::WindowMaximized);
}

WindowSettings WindowLayout::Stored() const {
  WindowSettings stored;
  QRect normal = window_.normalGeometry();
  if (!normal.isValid()) normal = window_.geometry();
  stored.geometry = WindowRect{normal.x(), normal.y(), normal.width(), normal.height()};
  stored.maximized = window_.isMaximized();
  stored.sendBoxHeight = sendRow_ ? sendRow_->height() : 0;
  stored.sendListWidth = sendListWidth_;
  stored.paneWidth = paneWidth_;
  for (int i = paneSplit_->count() - 1; i > 0; --i) {
    if (!paneSplit_->widget(i)->isHidden()) {
      stored.paneWidth = paneSplit_->widget(i)->width();
      break;
    }
  }
  stored.textPoints = textPoints_;
  return stored;
}

}  // namespace quorvel
