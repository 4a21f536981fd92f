#include "ui/port_list.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QEvent>
#include <QPainter>
#include <QScrollBar>
#include <QSocketNotifier>
#include <QStyledItemDelegate>
#include <QTextDocument>

#include "settings/settings.h"

namespace quorvel {
namespace {

constexpr int kSettleMs = 250;
constexpr int kGapPixels = 12;

// Draws "COMn" and, in a column beside it, the device's line; an absent
// device's row is drawn in the disabled colour but stays selectable.
class PortItemDelegate : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;

  void paint(QPainter* painter, const QStyleOptionViewItem& option,
             const QModelIndex& index) const override {
    QStyleOptionViewItem item = option;
    initStyleOption(&item, index);
    QString name = item.text;
    item.text.clear();
    const QWidget* widget = item.widget;
    QStyle* style = widget != nullptr ? widget->style() : nullptr;
    if (style != nullptr) style->drawControl(QStyle::CE_ItemViewItem, &item, painter, widget);

    bool selected = item.state & QStyle::State_Selected;
    bool present = index.data(PortList::kPresentRole).toBool();
    QPalette::ColorGroup group = present ? QPalette::Active : QPalette::Disabled;
    painter->save();
    painter->setPen(
        item.palette.color(group, selected ? QPalette::HighlightedText : QPalette::Text));
    QRect text = item.rect.adjusted(4, 0, -4, 0);
    painter->drawText(text, Qt::AlignVCenter | Qt::AlignLeft, name);
    text.setLeft(text.left() + NameColumn(item.fontMetrics));
    painter->drawText(text, Qt::AlignVCenter | Qt::AlignLeft,
                      index.data(PortList::kLineRole).toString());
    painter->restore();
  }

  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    QSize size = QStyledItemDelegate::sizeHint(option, index);
    size.setWidth(RowWidth(option.fontMetrics, index.data(PortList::kLineRole).toString()));
    return size;
  }

  static int RowWidth(const QFontMetrics& metrics, const QString& line) {
    return 8 + NameColumn(metrics) + metrics.horizontalAdvance(line);
  }

  static int NameColumn(const QFontMetrics& metrics) {
    return metrics.horizontalAdvance(QStringLiteral("COM255")) + kGapPixels;
  }
};

// A tooltip that looks like markup is shown as markup; the line holds a path
// from the settings file and what devices say of themselves, shown as written.
QString PlainToolTip(const QString& text) {
  if (!Qt::mightBeRichText(text)) return text;
  return QStringLiteral("<p style='white-space:pre'>%1</p>").arg(text.toHtmlEscaped());
}

}  // namespace

PortList::PortList(QComboBox* box, PortNames& names, QObject* parent)
    : QObject(parent), box_(box), names_(names) {
  box_->view()->setItemDelegate(new PortItemDelegate(box_->view()));
  view_ = box_->view();
  view_->installEventFilter(this);
  connect(box_, &QComboBox::currentIndexChanged, this, [this] {
    Describe(box_->currentIndex());
    ShowSelected();
  });
  settle_.setSingleShot(true);
  settle_.setInterval(kSettleMs);
  connect(&settle_, &QTimer::timeout, this, &PortList::DevicesChanged);
  watchNotifier_ = new QSocketNotifier(watch_.Descriptor(), QSocketNotifier::Read, this);
  watchNotifier_->setEnabled(watch_.Descriptor() >= 0);
  connect(watchNotifier_, &QSocketNotifier::activated, this, [this] {
    if (watch_.Drain().any) settle_.start();
  });
  WatchDevices();
  // Only the selected number at start: the whole list is read when it opens,
  // and reading sysfs for 255 numbers would delay the window's first paint.
  Describe(box_->currentIndex());
  ShowSelected();
}

PortList::~PortList() {
  // Before the watch closes its descriptor.
  delete watchNotifier_;
}

void PortList::SetRoots(const DeviceRoots& roots) {
  roots_ = roots;
  watch_.Clear();
  WatchDevices();
  Refresh();
}

void PortList::WatchDevices() {
  watch_.Watch(roots_.dev);
  watch_.Watch(roots_.ById());
}

void PortList::Refresh() {
  // The opened list is as wide as its longest line; the closed box keeps its
  // place in the template.
  QFontMetrics metrics = box_->view()->fontMetrics();
  int widest = 0;
  for (int index = 0; index < box_->count(); ++index) {
    Describe(index);
    widest = std::max(
        widest, PortItemDelegate::RowWidth(metrics, box_->itemData(index, kLineRole).toString()));
  }
  box_->view()->setMinimumWidth(widest + box_->view()->verticalScrollBar()->sizeHint().width());
  ShowSelected();
}

void PortList::Describe(int index) {
  if (index < 0 || index >= box_->count()) return;
  // An entry that names no port is shown as written, as a device that is not there.
  std::optional<PortTarget> target = names_.Target(index + 1);
  DeviceDescription description =
      DescribeDevice(target.value_or(PortTarget::Device(names_.DevicePath(index + 1))), roots_);
  // Sysfs speaks UTF-8 (the kernel converts the USB strings).
  QString line = QString::fromStdString(DescriptionLine(description));
  box_->setItemData(index, line, kLineRole);
  box_->setItemData(index, description.present, kPresentRole);
  box_->setItemData(index, PlainToolTip(line), Qt::ToolTipRole);
}

void PortList::ShowSelected() {
  int index = box_->currentIndex();
  QString line = index >= 0 ? box_->itemData(index, kLineRole).toString() : QString();
  box_->setToolTip(PlainToolTip(line));
  box_->setAccessibleDescription(line);
}

void PortList::DevicesChanged() {
  std::map<int, std::string> entries = names_.Entries();
  for (const auto& [number, path] : AssignDetectedPorts(entries, roots_.ttyClass, roots_.dev)) {
    names_.Set(number, path);
  }
  Refresh();
}

bool PortList::eventFilter(QObject* watched, QEvent* event) {
  // The drop-down is opening: what is plugged in now is what it shows. (The
  // view is compared as the filter saw it installed: while the window is
  // taken down the box is gone before its view's last events.)
  if (event->type() == QEvent::Show && watched == view_) Refresh();
  return QObject::eventFilter(watched, event);
}

}  // namespace quorvel
