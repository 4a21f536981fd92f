// The line's listener list, its news for the window and the flag under it:
// listeners join and leave while the line's threads hand runs through the
// list, and none is called once its Remove returned; who hears first and
// who hears a transfer; a message is news once until it is dismissed; any
// number of raises cost the looker one wake-up and none is lost.
#include <gtest/gtest.h>
#include <poll.h>

#include <atomic>
#include <chrono>
#include <deque>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "core/line_listeners.h"
#include "core/link_news.h"
#include "core/news_flag.h"

namespace quorvel {
namespace {

using namespace std::chrono_literals;

bool Readable(int descriptor) {
  pollfd ready{descriptor, POLLIN, 0};
  return ::poll(&ready, 1, 0) == 1;
}

// A listener that says when it is called after it was retired (its Remove
// returned), at the start of a call or at its end. Its storage lives until
// the line's threads have ended, so a late call is counted, not a crash.
class Watched : public LineListener {
 public:
  explicit Watched(std::atomic<int>& late) : late_(late) {}

  void Received(const uint8_t*, int) override { Call(); }
  void Sent(const uint8_t*, int) override { Call(); }
  void Noted(LineEvent, std::string_view) override { Call(); }

  void Retire() { retired_.store(true); }
  int Calls() const { return calls_.load(); }

 private:
  void Call() {
    if (retired_.load()) late_.fetch_add(1);
    calls_.fetch_add(1);
    std::this_thread::yield();  // a call that lasts: Remove must wait it out
    if (retired_.load()) late_.fetch_add(1);
  }

  std::atomic<int>& late_;
  std::atomic<bool> retired_{false};
  std::atomic<int> calls_{0};
};

TEST(LineListenersTest, NoCallReachesAListenerOnceItsRemoveReturned) {
  LineListeners list;
  std::atomic<int> late{0};
  std::atomic<bool> running{true};
  Watched resident(late);  // stays the whole time: the line is never without a listener
  list.Add(resident);

  const uint8_t run[] = {1, 2, 3};
  auto line = [&](int which) {
    while (running.load()) {
      if (which == 0) {
        list.Received(run, 3);
        list.TransferReceived(run, 3);
      } else {
        list.Sent(run, 3);
        list.TransferSent(run, 3);
        list.Noted(LineEvent::kNote, "x");
      }
    }
  };
  std::thread reader(line, 0);
  std::thread writer(line, 1);

  constexpr int kChurners = 3;
  constexpr int kEach = 300;
  std::vector<std::deque<Watched>> pools(kChurners);  // deque: no listener moves
  std::vector<std::thread> churners;
  for (int c = 0; c < kChurners; ++c) {
    churners.emplace_back([&, c] {
      std::mt19937 random(static_cast<unsigned>(c + 1));
      for (int i = 0; i < kEach; ++i) {
        Watched& listener = pools[c].emplace_back(late);
        list.Add(listener, {.early = random() % 2 == 0, .transfers = random() % 2 == 0});
        // Now and then stay until the line has called: a Remove then meets
        // calls in progress rather than an idle list.
        if (i % 4 == 0) {
          auto deadline = std::chrono::steady_clock::now() + 5s;
          while (listener.Calls() == 0 && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::yield();
          }
        }
        list.Remove(listener);
        listener.Retire();
        EXPECT_FALSE(list.Contains(listener));
      }
    });
  }
  for (std::thread& churner : churners) churner.join();
  running.store(false);
  reader.join();
  writer.join();

  EXPECT_EQ(late.load(), 0) << "calls after Remove returned";
  EXPECT_GT(resident.Calls(), 0);
  int heard = 0;
  for (const auto& pool : pools) {
    for (const Watched& listener : pool) heard += listener.Calls() > 0;
  }
  EXPECT_GT(heard, 0) << "the churned listeners took part";
}

// Writes its name into a shared trace on every call.
class Named : public LineListener {
 public:
  Named(char name, std::string& trace) : name_(name), trace_(trace) {}
  void Received(const uint8_t*, int) override { trace_ += name_; }
  void Sent(const uint8_t*, int) override { trace_ += static_cast<char>(name_ - 'a' + 'A'); }

 private:
  char name_;
  std::string& trace_;
};

struct OrderCase {
  const char* name;
  std::vector<std::pair<char, bool>> adds;  // listener a..c, early
  std::string heard;                        // who heard one run, in order
};

class ListenerOrderTest : public ::testing::TestWithParam<OrderCase> {};

TEST_P(ListenerOrderTest, EarlyListenersHearFirstAndEachHearsOnce) {
  std::string trace;
  std::deque<Named> listeners;
  for (char name = 'a'; name <= 'c'; ++name) listeners.emplace_back(name, trace);
  LineListeners list;
  for (auto [name, early] : GetParam().adds) {
    list.Add(listeners[static_cast<size_t>(name - 'a')], {.early = early});
  }
  const uint8_t byte = 0;
  list.Received(&byte, 1);
  EXPECT_EQ(trace, GetParam().heard);
}

INSTANTIATE_TEST_SUITE_P(
    Hearing, ListenerOrderTest,
    ::testing::Values(
        OrderCase{"InTheOrderAdded", {{'a', false}, {'b', false}, {'c', false}}, "abc"},
        OrderCase{"AnEarlyOneAddedLastHearsFirst", {{'a', false}, {'b', true}}, "ba"},
        OrderCase{"EarlyOnesKeepTheirOrder", {{'a', true}, {'b', false}, {'c', true}}, "acb"},
        OrderCase{"AddedTwiceHearsOnce", {{'a', false}, {'a', false}}, "a"},
        OrderCase{"AddedAgainAsEarlyMovesAhead", {{'a', false}, {'b', false}, {'b', true}}, "ba"},
        OrderCase{"AddedAgainAsLateFallsBehind", {{'a', true}, {'b', false}, {'a', false}}, "ba"}),
    [](const auto& info) { return std::string(info.param.name); });

struct FanOutCase {
  const char* name;
  void (LineListeners::*call)(const uint8_t*, int) const;
  std::string heard;  // p: the plain listener, t: the one that hears transfers; upper case: Sent
};

class FanOutTest : public ::testing::TestWithParam<FanOutCase> {};

TEST_P(FanOutTest, OnlyListenersOfTransfersHearWhatATransferCarries) {
  std::string trace;
  Named plain('p', trace);
  Named transfers('t', trace);
  LineListeners list;
  list.Add(plain);
  list.Add(transfers, {.transfers = true});
  const uint8_t byte = 0;
  (list.*GetParam().call)(&byte, 1);
  EXPECT_EQ(trace, GetParam().heard);
}

INSTANTIATE_TEST_SUITE_P(
    Runs, FanOutTest,
    ::testing::Values(FanOutCase{"Received", &LineListeners::Received, "pt"},
                      FanOutCase{"Sent", &LineListeners::Sent, "PT"},
                      FanOutCase{"TransferReceived", &LineListeners::TransferReceived, "t"},
                      FanOutCase{"TransferSent", &LineListeners::TransferSent, "T"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(LineListenersTest, RemoveOfOneThatIsNotThereIsHarmless) {
  std::string trace;
  Named a('a', trace);
  Named b('b', trace);
  LineListeners list;
  list.Remove(a);
  list.Add(b);
  list.Remove(a);
  EXPECT_FALSE(list.Contains(a));
  EXPECT_TRUE(list.Contains(b));
  list.Noted(LineEvent::kNote, "ignored by both");  // the default Noted
  const uint8_t byte = 0;
  list.Received(&byte, 1);
  EXPECT_EQ(trace, "b");
}

// A script of the window's and the line's steps on the news: "+A" posts A,
// "-A" dismisses A, "=AB" takes the news and expects A then B ("=" none),
// with the descriptor readable exactly when something was taken.
struct NewsCase {
  const char* name;
  std::vector<std::string> steps;
};

class LinkNewsTest : public ::testing::TestWithParam<NewsCase> {};

TEST_P(LinkNewsTest, AMessageIsNewsOnceUntilItIsDismissed) {
  LinkNews news;
  for (const std::string& step : GetParam().steps) {
    SCOPED_TRACE(step);
    std::string text = step.substr(1);
    if (step[0] == '+') {
      news.PostMessage(text);
    } else if (step[0] == '-') {
      news.Dismissed(text);
    } else {
      std::vector<std::string> expected;
      for (char c : text) expected.emplace_back(1, c);
      EXPECT_EQ(Readable(news.Descriptor()), !expected.empty());
      EXPECT_EQ(news.Take(), expected);
      EXPECT_FALSE(Readable(news.Descriptor()));
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Steps, LinkNewsTest,
    ::testing::Values(
        NewsCase{"AWaitingTextIsNotAddedTwice", {"+A", "+A", "=A", "="}},
        NewsCase{"AShownTextIsNotAddedAgain", {"+A", "=A", "+A", "+A", "="}},
        NewsCase{"ADismissedTextMayComeAgain", {"+A", "=A", "-A", "+A", "=A"}},
        NewsCase{"OtherTextsComeInTheirOrder", {"+A", "+B", "+A", "=AB", "+C", "+B", "=C"}},
        NewsCase{"DismissingOneKeepsTheOtherShown", {"+A", "+B", "=AB", "-A", "+B", "+A", "=A"}},
        NewsCase{"DismissingWhatIsNotShownChangesNothing",
                 {"-A", "+A", "-A", "+A", "=A", "+A", "="}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(LinkNewsTest, CountersMovingIsNewsWithoutAMessage) {
  LinkNews news;
  news.CountersMoved();
  news.CountersMoved();
  EXPECT_TRUE(Readable(news.Descriptor()));
  EXPECT_TRUE(news.Take().empty());
  EXPECT_FALSE(Readable(news.Descriptor()));
}

TEST(NewsFlagTest, ManyRaisesMakeOneLookAndARaiseAfterTheLookIsSeen) {
  NewsFlag flag;
  EXPECT_FALSE(Readable(flag.Descriptor()));
  EXPECT_FALSE(flag.Take());
  for (int i = 0; i < 1000; ++i) flag.Raise();
  EXPECT_TRUE(Readable(flag.Descriptor()));
  EXPECT_TRUE(flag.Take());
  EXPECT_FALSE(Readable(flag.Descriptor())) << "one look took all the raises";
  EXPECT_FALSE(flag.Take());
  flag.Raise();
  EXPECT_TRUE(Readable(flag.Descriptor()));
  EXPECT_TRUE(flag.Take());
}

// A producer counts and raises; the looker waits on the descriptor and reads
// the count after each Take. Were a raise lost between the two threads, the
// looker would wait in vain for the last count.
TEST(NewsFlagTest, NoRaiseIsLostBetweenTheThreads) {
  NewsFlag flag;
  std::atomic<int> produced{0};
  constexpr int kRaises = 20000;
  std::thread producer([&] {
    for (int i = 1; i <= kRaises; ++i) {
      produced.store(i);
      flag.Raise();
    }
  });
  int seen = 0;
  int looks = 0;
  while (seen < kRaises) {
    pollfd ready{flag.Descriptor(), POLLIN, 0};
    if (::poll(&ready, 1, 5000) != 1) break;
    flag.Take();
    seen = produced.load();
    ++looks;
  }
  producer.join();
  EXPECT_EQ(seen, kRaises) << "the last raise was lost";
  EXPECT_LE(looks, kRaises);
}

}  // namespace
}  // namespace quorvel
