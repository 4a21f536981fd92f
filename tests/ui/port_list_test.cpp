// The port selector's list on a fake sysfs tree and device directory: what
// each number shows, and adapters that appear and leave while the window is
// open. Also the window's side of a device that goes away and returns.
#include <QAbstractItemView>
#include <QComboBox>
#include <QtTest>
#include <filesystem>

#include "support/fake_sysfs.h"
#include "terminal_harness.h"
#include "ui/main_window.h"
#include "ui/port_list.h"

using namespace quorvel;
using namespace quorvel::testing;

namespace {

const Usb kFtdi{"0403", "6001", "FT232R USB UART", "FTDI", "A50285BI", "ftdi_sio"};
const Usb kCh340{"1a86", "7523", "USB Serial", "QinHeng", nullptr, "ch341"};

template <class F>
bool PumpUntil(F done, std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
  auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  }
  return true;
}

QString Line(QComboBox* box, int index) {
  return box->itemData(index, PortList::kLineRole).toString();
}
bool Present(QComboBox* box, int index) {
  return box->itemData(index, PortList::kPresentRole).toBool();
}

}  // namespace

class PortListTest : public QObject {
  Q_OBJECT

 private Q_SLOTS:
  void numbersShowTheirDevicesAndAbsentOnesDimmed();
  void adaptersAppearingAndLeavingUpdateTheList();
  void titleSaysWhileTheDeviceIsAway();
};

void PortListTest::numbersShowTheirDevicesAndAbsentOnesDimmed() {
  FakeMachine machine;
  machine.Plug({"ttyUSB0", true, nullptr, true, &kFtdi});
  std::string byId = machine.ById("usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0", "ttyUSB0");
  TerminalHarness harness;
  MainWindow& window = harness.Window();
  auto* box = harness.Get<QComboBox>(kPortSelector);
  window.Names().Set(3, byId);
  window.Names().Set(4, machine.Node("ttyUSB9"));
  window.Ports()->SetRoots(machine.Roots());

  const QString ftdi = QString::fromStdString(machine.Node("ttyUSB0")) +
                       QStringLiteral(
                           "   FT232R USB UART \u00b7 FTDI \u00b7 A50285BI \u00b7 "
                           "0403:6001 \u00b7 ftdi_sio");
  QCOMPARE(box->count(), 255);
  QCOMPARE(box->itemText(2), QStringLiteral("COM3"));
  QCOMPARE(Line(box, 2), ftdi);
  QVERIFY(Present(box, 2));
  QCOMPARE(Line(box, 0), QString::fromStdString(harness.Device().Path()));
  QVERIFY(Present(box, 0));
  QVERIFY(!Present(box, 3));
  // An absent number stays selectable: a link may appear later.
  QVERIFY(box->model()->flags(box->model()->index(3, 0)) & Qt::ItemIsEnabled);

  harness.Choose(kPortSelector, 2);  // a fake node: it does not open
  QCOMPARE(box->toolTip(), ftdi);
  QCOMPARE(box->accessibleDescription(), ftdi);

  // Opening the list reads sysfs again, and the list is wide enough for the
  // longest line while the closed box keeps its size.
  int closedWidth = box->width();
  std::filesystem::path product =
      std::filesystem::canonical(machine.ttyClass() / "ttyUSB0" / "device/../../product");
  WriteFile(product, "FT232RL\n");
  box->showPopup();
  QVERIFY(Line(box, 2).contains(QStringLiteral("FT232RL \u00b7")));
  QVERIFY(box->view()->width() >= box->fontMetrics().horizontalAdvance(ftdi));
  box->hidePopup();
  QCOMPARE(box->width(), closedWidth);
}

void PortListTest::adaptersAppearingAndLeavingUpdateTheList() {
  FakeMachine machine;
  TerminalHarness harness;
  MainWindow& window = harness.Window();
  auto* box = harness.Get<QComboBox>(kPortSelector);
  window.Ports()->SetRoots(machine.Roots());
  auto numberOf = [&](const std::string& path) {
    for (const auto& [number, entry] : window.Names().Entries()) {
      if (entry == path) return number;
    }
    return 0;
  };

  machine.Plug({"ttyUSB0", true, nullptr, true, &kCh340});
  std::string byId = machine.ById("usb-1a86_USB_Serial-if00-port0", "ttyUSB0");
  QVERIFY(PumpUntil([&] { return numberOf(byId) != 0; }));
  int number = numberOf(byId);
  QVERIFY(PumpUntil([&] { return Line(box, number - 1).contains(QStringLiteral("QinHeng")); }));
  QVERIFY(Present(box, number - 1));

  machine.Unplug("ttyUSB0");
  QVERIFY(PumpUntil([&] { return !Present(box, number - 1); }));
  QCOMPARE(numberOf(byId), number);  // the number waits for the adapter
}

void PortListTest::titleSaysWhileTheDeviceIsAway() {
  QTemporaryDir links;
  std::string link = (links.path() + QStringLiteral("/ttyACM0")).toStdString();
  auto device = std::make_unique<PtyDevice>();
  std::filesystem::create_symlink(device->Path(), link);
  TerminalHarness harness("[COMConfig]\nCOM=1\n[PortMap]\nCOM2=" + link + "\n", 0);
  MainWindow& window = harness.Window();
  const QString title = window.windowTitle();
  QCOMPARE(harness.Text(kOpenCloseButton), QStringLiteral("Close com"));

  std::filesystem::remove(link);
  device->Hangup();
  QVERIFY(PumpUntil([&] { return window.Link().Waiting(); }));
  QCOMPARE(window.windowTitle(),
           title + QStringLiteral(" \u2014 COM2 waiting for ") + QString::fromStdString(link));
  QCOMPARE(harness.Text(kOpenCloseButton), QStringLiteral("Close com"));

  device = std::make_unique<PtyDevice>();
  std::filesystem::create_symlink(device->Path(), link);
  QVERIFY(PumpUntil([&] { return window.Link().Port().IsOpen(); }));
  QCOMPARE(window.windowTitle(), title);
  device->Send(std::string("back"));
  QVERIFY(PumpUntil([&] { return harness.Counters().rxCount == 4; }));
}

QTEST_MAIN(PortListTest)
#include "port_list_test.moc"
