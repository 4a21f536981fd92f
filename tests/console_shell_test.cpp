// The console against a real shell: bash on the far side of a
// pseudo-terminal, as a board's login shell sits on the far side of a
// serial line. What the pseudo-terminal gives goes into the console from a
// thread of its own, as the receive worker would give it; what the console
// sends is written to the pseudo-terminal. Tab completion, the history,
// Ctrl+C, a full-screen program and a long listing, each waited for on the
// screen with a deadline.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <thread>

#include "console/console.h"
#include "support/shell_peer.h"
#include "support/temp_files.h"

namespace quorvel {
namespace {

constexpr int kRows = 24;
constexpr int kColumns = 80;
constexpr auto kDeadline = std::chrono::seconds(20);

class ShellSession {
 public:
  explicit ShellSession(const std::filesystem::path& home) {
    shell_ = testing::StartShell(home, kRows, kColumns, {}, &master_);
    if (shell_ < 0) {
      ADD_FAILURE() << "no shell on a pseudo-terminal";
      return;
    }
    console_ = std::make_unique<Console>(
        kRows, kColumns, ConsoleOptions{}, [this](std::vector<uint8_t> bytes) { Write(bytes); },
        [this](std::vector<uint8_t> piece, Console::PieceWritten written) {
          Write(piece);
          written(true);
        });
    reader_ = std::thread([this] { Read(); });
  }

  ~ShellSession() {
    stop_ = true;
    if (reader_.joinable()) reader_.join();
    console_.reset();
    if (shell_ > 0) {
      kill(shell_, SIGKILL);
      waitpid(shell_, nullptr, 0);
    }
    if (master_ >= 0) close(master_);
  }

  Console& Terminal() { return *console_; }
  const ScreenCopy& Screen() const { return copy_; }

  void Type(std::u16string text) {
    for (char16_t c : text) {
      if (c == u'\n') {
        console_->Key({ConsoleKey::kEnter, 0, u""});
      } else {
        console_->Key({ConsoleKey::kNone, 0, std::u16string(1, c)});
      }
    }
  }
  void Press(ConsoleKey key, int modifiers = 0, std::u16string text = u"") {
    console_->Key({key, modifiers, std::move(text)});
  }

  // The screen's text, rows joined with LF.
  std::string Text() const {
    std::string text;
    for (const ConsoleRow& row : copy_.screen) text += RowText(row) + "\n";
    return text;
  }

  // Takes the console's changes as they come until `holds` is true of the
  // screen, or the deadline passes.
  bool WaitFor(const std::function<bool()>& holds) {
    auto deadline = std::chrono::steady_clock::now() + kDeadline;
    for (;;) {
      console_->TakeChanges(copy_);
      if (holds()) return true;
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) return false;
      pollfd changed = {console_->ChangedDescriptor(), POLLIN, 0};
      poll(&changed, 1, static_cast<int>(std::min<int64_t>(left.count(), 500)));
    }
  }
  bool WaitForText(const std::string& text) {
    return WaitFor([&] { return Text().find(text) != std::string::npos; });
  }
  // The prompt at the start of the cursor's row, nothing typed after it.
  bool WaitForPrompt() {
    return WaitFor([&] {
      if (copy_.screen.empty()) return false;
      return RowText(copy_.screen[static_cast<size_t>(copy_.cursor.row)]) == "qv$" &&
             copy_.cursor.column == 4;
    });
  }

 private:
  void Write(const std::vector<uint8_t>& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
      ssize_t n = ::write(master_, bytes.data() + done, bytes.size() - done);
      if (n > 0) {
        done += static_cast<size_t>(n);
      } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
        return;
      } else {
        pollfd out = {master_, POLLOUT, 0};
        poll(&out, 1, 100);
      }
    }
  }
  void Read() {
    uint8_t buffer[4096];
    while (!stop_) {
      pollfd in = {master_, POLLIN, 0};
      if (poll(&in, 1, 50) <= 0) continue;
      ssize_t n = ::read(master_, buffer, sizeof buffer);
      if (n > 0) console_->Received(buffer, static_cast<int>(n));
      if (n == 0 || (n < 0 && errno == EIO)) return;  // the shell is gone
    }
  }

  int master_ = -1;
  pid_t shell_ = -1;
  std::unique_ptr<Console> console_;
  std::thread reader_;
  std::atomic<bool> stop_{false};
  ScreenCopy copy_;
};

class ConsoleShell : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(shell_.WaitForPrompt()) << shell_.Text(); }
  testing::TempDir home_;
  ShellSession shell_{home_.path()};
};

TEST_F(ConsoleShell, TabCompletesAUniqueCommand) {
  shell_.Type(u"ech");
  shell_.Press(ConsoleKey::kTab);
  ASSERT_TRUE(shell_.WaitFor([&] {
    const ScreenCopy& screen = shell_.Screen();
    return RowText(screen.screen[static_cast<size_t>(screen.cursor.row)]) == "qv$ echo" &&
           screen.cursor.column == 9;  // and the space completion adds
  })) << shell_.Text();
  shell_.Type(u"completed\n");
  ASSERT_TRUE(shell_.WaitForText("qv$ echo completed\ncompleted\n")) << shell_.Text();
  // bash asks for bracketed paste at its prompt.
  ASSERT_TRUE(shell_.WaitForPrompt());
  EXPECT_TRUE(shell_.Screen().bracketedPaste);
}

TEST_F(ConsoleShell, UpBringsBackTheLastCommand) {
  shell_.Type(u"echo first-$((40+2))\n");
  ASSERT_TRUE(shell_.WaitForText("first-42")) << shell_.Text();
  ASSERT_TRUE(shell_.WaitForPrompt());
  shell_.Press(ConsoleKey::kUp);
  ASSERT_TRUE(shell_.WaitFor([&] {
    const ConsoleRow& row = shell_.Screen().screen[static_cast<size_t>(shell_.Screen().cursor.row)];
    return RowText(row) == "qv$ echo first-$((40+2))";
  })) << shell_.Text();
  shell_.Press(ConsoleKey::kEnter);
  ASSERT_TRUE(shell_.WaitFor([&] {
    std::string text = shell_.Text();
    return text.find("first-42") != text.rfind("first-42");  // twice now
  })) << shell_.Text();
}

TEST_F(ConsoleShell, CtrlCEndsAProgram) {
  shell_.Type(u"sleep 100; echo not-reached\n");
  ASSERT_TRUE(shell_.WaitForText("qv$ sleep 100")) << shell_.Text();
  // The echo comes before bash has started sleep: a Ctrl+C that lands in
  // between is bash's, and sleep then runs on. Pressed again after a second
  // without a prompt, it ends sleep.
  auto ended = [&] { return shell_.Text().find("^C\nqv$") != std::string::npos; };
  for (int tries = 0; tries < 10 && !ended(); ++tries) {
    shell_.Press(ConsoleKey::kNone, kModCtrl, u"c");
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(1);
    shell_.WaitFor([&] { return ended() || std::chrono::steady_clock::now() > until; });
  }
  ASSERT_TRUE(ended()) << shell_.Text();
  ASSERT_TRUE(shell_.WaitForPrompt()) << shell_.Text();
  EXPECT_EQ(shell_.Text().find("\nnot-reached\n"), std::string::npos) << shell_.Text();
}

TEST_F(ConsoleShell, LessPagesAndQuitRestoresTheScreen) {
  std::string lines;
  for (int i = 1; i <= 200; ++i) lines += "paged line " + std::to_string(i) + "\n";
  testing::WriteFile(home_ / "pages.txt", lines);
  shell_.Type(u"echo before-less\n");
  ASSERT_TRUE(shell_.WaitForPrompt());
  shell_.Type(u"less pages.txt\n");
  ASSERT_TRUE(shell_.WaitFor([&] {
    return shell_.Screen().altScreen && shell_.Text().find("paged line 23") != std::string::npos;
  })) << shell_.Text();
  EXPECT_EQ(shell_.Text().find("before-less"), std::string::npos);
  shell_.Type(u" ");  // the next page
  ASSERT_TRUE(shell_.WaitForText("paged line 46")) << shell_.Text();
  shell_.Type(u"q");
  ASSERT_TRUE(shell_.WaitFor([&] { return !shell_.Screen().altScreen; }));
  ASSERT_TRUE(shell_.WaitForPrompt()) << shell_.Text();
  EXPECT_NE(shell_.Text().find("before-less"), std::string::npos) << shell_.Text();
  EXPECT_EQ(shell_.Text().find("paged line"), std::string::npos) << shell_.Text();
}

TEST_F(ConsoleShell, ALongListingArrivesWhole) {
  constexpr int kLines = 20'000;
  std::string lines;
  for (int i = 1; i <= kLines; ++i) {
    // Coloured as ls colours, so the flood takes most of it.
    lines += "\x1b[01;34mrow\x1b[0m " + std::to_string(i) + " \x1b[32mok\x1b[0m\n";
  }
  testing::WriteFile(home_ / "rows.txt", lines);
  shell_.Type(u"cat rows.txt; echo listing-done\n");
  ASSERT_TRUE(shell_.WaitForText("listing-done\nqv$")) << shell_.Text();

  // Every row, in order, in the scrollback and on the screen.
  const ScreenCopy& screen = shell_.Screen();
  uint64_t end = screen.screenLine + static_cast<uint64_t>(screen.rows);
  int expected = 1;
  ConsoleRow row;
  for (uint64_t line = screen.firstLine; line < end && expected <= kLines; ++line) {
    ASSERT_TRUE(shell_.Terminal().ReadLine(line, row));
    std::string text = RowText(row);
    if (expected == 1 && text != "row 1 ok") continue;  // the command line before
    ASSERT_EQ(text, "row " + std::to_string(expected) + " ok") << "line " << line;
    EXPECT_EQ(row.cells[0].style.fg, CellColour::Indexed(4));
    ++expected;
  }
  EXPECT_EQ(expected, kLines + 1);
}

}  // namespace
}  // namespace quorvel
