// The port selector as a list of what is behind each number: in the opened
// drop-down each "COMn" is followed by its device and what sysfs says of it,
// and numbers with no device present are drawn dimmed (they stay
// selectable: a link may appear later). The closed box carries the selected
// number's line as its tooltip and accessible description. The items' texts
// stay "COM1" to "COM255".
//
// Presence is read again whenever the drop-down opens, and when an entry
// appears in or leaves the device directory (inotify, so nothing runs while
// nothing changes); a new adapter then gets its COM number at once.
#pragma once

#include <QObject>
#include <QTimer>
#include <memory>

#include "link/device_description.h"
#include "link/directory_watch.h"
#include "link/port_names.h"

class QComboBox;
class QSocketNotifier;

namespace quorvel {

class PortList : public QObject {
 public:
  static constexpr int kLineRole = Qt::UserRole + 1;     // QString: the device's line
  static constexpr int kPresentRole = Qt::UserRole + 2;  // bool

  // `box` holds the items "COM1".."COM255"; `names` maps them to devices and
  // gains the numbers of adapters that appear. Both outlive the list.
  PortList(QComboBox* box, PortNames& names, QObject* parent);
  ~PortList() override;

  // Where devices and sysfs are looked for; tests point it at a fake tree.
  void SetRoots(const DeviceRoots& roots);

  // Reads every number's device again.
  void Refresh();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void Describe(int index);
  void ShowSelected();
  void WatchDevices();
  void DevicesChanged();

  QComboBox* box_;
  QObject* view_ = nullptr;
  PortNames& names_;
  DeviceRoots roots_;
  DirectoryWatch watch_;
  QSocketNotifier* watchNotifier_ = nullptr;
  QTimer settle_;  // lets udev finish a node's links before we look
};

}  // namespace quorvel
