// Every way the window sends goes through its link's one door: whatever the
// path, the device gets the bytes, the line's listeners hear them as sent and
// the TX count counts them, and a second send queued behind arrives after.
#include <QTemporaryDir>
#include <QTest>
#include <functional>
#include <mutex>

#include "sending/send_composer.h"
#include "terminal_harness.h"
#include "ui/byte_text_box.h"
#include "ui/line_tools.h"
#include "ui/send_list_panel.h"
#include "ui/send_tools.h"

using namespace quorvel;
using quorvel::testing::TerminalHarness;

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Of(std::string_view text) {
  return {text.begin(), text.end()};
}

// Hears what the line sends, as the log file and the session view do.
class SentBytes : public LineListener {
 public:
  void Received(const uint8_t*, int) override {}
  void Sent(const uint8_t* bytes, int count) override {
    std::lock_guard guard(mutex_);
    sent_.insert(sent_.end(), bytes, bytes + count);
  }
  Bytes Taken() {
    std::lock_guard guard(mutex_);
    return sent_;
  }

 private:
  std::mutex mutex_;
  Bytes sent_;
};

// A path makes the window send "ping": by the user's hand, by the timer, by
// the send list, from a file, or in answer to the device.
using Path = std::function<void(TerminalHarness&, const QString& directory)>;

void TypePing(TerminalHarness& harness) {
  harness.Get<ByteTextBox>(kSendBox)->setPlainText(QStringLiteral("ping"));
}

SendListEntry PingEntry() {
  SendListEntry entry;
  entry.name = "ping";
  entry.content = "ping";
  return entry;
}

const std::pair<const char*, Path> kPaths[] = {
    {"the Send button",
     [](TerminalHarness& harness, const QString&) {
       TypePing(harness);
       harness.Click(kSendButton);
     }},
    {"the timer",
     [](TerminalHarness& harness, const QString&) {
       TypePing(harness);
       harness.Type(kPeriodBox, QStringLiteral("20"));
       harness.Click(kTimerCheck);
       QTRY_VERIFY(harness.Counters().txCount >= 4);
       harness.Click(kTimerCheck);
     }},
    {"a send list entry",
     [](TerminalHarness& harness, const QString&) {
       SendListPanel* panel = harness.Window().Sending().Panel();
       panel->AddEntry(PingEntry());
       QVERIFY(panel->SendEntry(0));
     }},
    {"the send list's run",
     [](TerminalHarness& harness, const QString&) {
       SendListPanel* panel = harness.Window().Sending().Panel();
       panel->AddEntry(PingEntry());
       panel->SendAll(false);
       QTRY_VERIFY(!panel->SendingAll());
     }},
    {"a file",
     [](TerminalHarness& harness, const QString& directory) {
       QString path = directory + QStringLiteral("/ping.txt");
       QFile file(path);
       QVERIFY(file.open(QIODevice::WriteOnly));
       file.write("ping");
       file.close();
       QVERIFY(harness.Window().Tools().SendFile(path, {}));
     }},
    {"the auto-reply",
     [](TerminalHarness& harness, const QString&) {
       TypePing(harness);
       harness.Click(kReplyCheck);
       harness.Device().Send(Of("?\r"));
     }},
    {"the echo",
     [](TerminalHarness& harness, const QString&) {
       harness.Click(kEchoCheck);
       harness.Device().Send(Of("ping\r"));
     }},
};

}  // namespace

class SendDoorTest : public QObject {
  Q_OBJECT

 private Q_SLOTS:
  void everyPathGoesThroughTheDoor_data();
  void everyPathGoesThroughTheDoor();
};

void SendDoorTest::everyPathGoesThroughTheDoor_data() {
  QTest::addColumn<int>("path");
  for (int i = 0; i < static_cast<int>(std::size(kPaths)); ++i) {
    QTest::newRow(kPaths[i].first) << i;
  }
}

void SendDoorTest::everyPathGoesThroughTheDoor() {
  QFETCH(int, path);
  TerminalHarness harness("[SendConfig]\nFRAMEEND=0d\n");
  LinkSession& link = harness.Window().Link();
  SentBytes heard;
  link.Hub().listeners.Add(heard);
  QTemporaryDir directory;
  kPaths[path].second(harness, directory.path());
  QVERIFY(!QTest::currentTestFailed());

  // The echo answers with the frame as it came; every other path sends the
  // bytes of "ping" (the timer several times).
  Bytes expected = Of(path == 6 ? "ping\r" : "ping");
  Bytes got = harness.Receive(0, expected.size());
  QCOMPARE(got, expected);
  // Queued behind whatever the path left, a send of the door's own goes after.
  QVERIFY(link.Send(Of("END")).Ok());
  Bytes rest = harness.Drain(0);
  QVERIFY(rest.size() >= 3);
  QCOMPARE(Bytes(rest.end() - 3, rest.end()), Of("END"));
  got.insert(got.end(), rest.begin(), rest.end());
  QTRY_COMPARE(heard.Taken(), got);
  QTRY_COMPARE(harness.Counters().txCount, static_cast<uint32_t>(got.size()));
  link.Hub().listeners.Remove(heard);
}

QTEST_MAIN(SendDoorTest)
#include "send_door_test.moc"
