#include "sim/demo_shell.h"

#include <vector>

#include "sim/demo_screens.h"

namespace quorvel {
namespace {

using namespace std::chrono_literals;

constexpr char kPrompt[] = "\x1b[1;32mdemo>\x1b[0m ";
constexpr char kNoCompletion = 0x07;
constexpr uint8_t kInterruptKey = 0x03;
constexpr auto kTopEvery = 1s;

std::string_view Trimmed(std::string_view text) {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  return text;
}

std::string Red(std::string_view text) {
  return "\x1b[31m" + std::string(text) + "\x1b[0m\r\n";
}

}  // namespace

bool IsLoneEnter(std::string_view burst) {
  return burst == "\r" || burst == "\n" || burst == "\r\n";
}

const DemoShell::Command DemoShell::kCommands[] = {
    {"help", "this list", &DemoShell::Help},
    {"read", "a reading, as READ gives one", &DemoShell::Read},
    {"id", "the device's name", &DemoShell::Id},
    {"wave", "wave RATE: three waves at RATE lines a second; wave off", &DemoShell::Wave},
    {"colors", "the 16 colours and the 256-colour palette", &DemoShell::Colors},
    {"top", "the device's tasks on a full screen, once a second; q quits", &DemoShell::Top},
    {"clear", "clears the screen", &DemoShell::Clear},
    {"exit", "back to the plain device and its readings", &DemoShell::Exit},
};

DemoShell::DemoShell(DemoResponder& responder, Clock::time_point booted, int waveRate)
    : responder_(responder), booted_(booted), waveRate_(waveRate), editor_(kPrompt) {}

std::string DemoShell::Start() {
  return "\r\n" + ShellBanner() + editor_.Redraw();
}

std::string DemoShell::Feed(std::string_view keys, Clock::time_point now, size_t& used) {
  std::string out;
  used = 0;
  while (running_ && used < keys.size()) Key(static_cast<uint8_t>(keys[used++]), now, out);
  return out;
}

void DemoShell::Key(uint8_t byte, Clock::time_point now, std::string& out) {
  if (inTop_) return TopKey(byte, out);
  switch (editor_.Key(byte, out)) {
    case LineEditor::Event::kNone:
      return;
    case LineEditor::Event::kInterrupt:
      editor_.DropLine();
      out += "^C\r\n" + editor_.Redraw();
      return;
    case LineEditor::Event::kComplete:
      out += Complete();
      return;
    case LineEditor::Event::kEnter:
      out += "\r\n" + Run(editor_.TakeLine(), now);
      if (running_ && !inTop_) out += editor_.Redraw();
      return;
  }
}

void DemoShell::TopKey(uint8_t byte, std::string& out) {
  if (byte != 'q' && byte != kInterruptKey) return;
  inTop_ = false;
  out += TopLeave() + editor_.Redraw();
}

std::string DemoShell::Complete() {
  // Command names only: past the first word there is nothing to complete.
  const std::string& line = editor_.Line();
  if (line.find(' ') != std::string::npos || editor_.CursorAt() != line.size()) {
    return std::string(1, kNoCompletion);
  }
  std::vector<std::string_view> matches;
  for (const Command& command : kCommands) {
    if (std::string_view(command.name).starts_with(line)) matches.push_back(command.name);
  }
  std::string out;
  if (matches.empty()) {
    out += kNoCompletion;
  } else if (matches.size() == 1) {
    editor_.SetLine(std::string(matches[0]) + " ", out);
  } else {
    out += "\r\n";
    for (std::string_view match : matches) out += std::string(match) + "  ";
    out += "\r\n" + editor_.Redraw();
  }
  return out;
}

std::string DemoShell::Run(std::string_view line, Clock::time_point now) {
  line = Trimmed(line);
  if (line.empty()) return {};
  std::string_view name = line.substr(0, line.find(' '));
  std::string_view argument = Trimmed(line.substr(name.size()));
  for (const Command& command : kCommands) {
    if (name == command.name) return (this->*command.run)(argument, now);
  }
  return Red("demo: " + std::string(name) + ": command not found (help lists the commands)");
}

std::string DemoShell::Help(std::string_view, Clock::time_point) {
  std::string out;
  for (const Command& command : kCommands) {
    std::string name = command.name;
    name.append(8 - name.size(), ' ');
    out += "  \x1b[1;36m" + name + "\x1b[0m" + command.help + "\r\n";
  }
  return out;
}

std::string DemoShell::Read(std::string_view, Clock::time_point) {
  return responder_.Reading();
}

std::string DemoShell::Id(std::string_view, Clock::time_point) {
  return std::string(kDemoDeviceName) + "\r\n";
}

std::string DemoShell::Wave(std::string_view argument, Clock::time_point) {
  // The plain device's WAVE, so that both take the same rates.
  std::string command = "WAVE " + std::string(argument) + "\r";
  std::string refusal =
      responder_.Answer(reinterpret_cast<const uint8_t*>(command.data()), command.size());
  std::optional<int> rate = responder_.TakeWaveRequest();
  if (!rate) return Red(Trimmed(refusal.substr(0, refusal.find('\r'))));
  waveRate_ = *rate;
  waveRequest_ = rate;
  if (*rate == 0) return "waves off\r\n";
  return "waves at " + std::to_string(*rate) + " lines a second; wave off stops them\r\n";
}

std::string DemoShell::Colors(std::string_view, Clock::time_point) {
  return ColorTable();
}

std::string DemoShell::Top(std::string_view, Clock::time_point now) {
  inTop_ = true;
  topFrames_ = 0;
  nextFrame_ = now + kTopEvery;
  return TopFrameAt(now, true);
}

std::string DemoShell::Clear(std::string_view, Clock::time_point) {
  return "\x1b[H\x1b[2J";
}

std::string DemoShell::Exit(std::string_view, Clock::time_point) {
  running_ = false;
  return "left the shell: the readings go on\r\n";
}

std::string DemoShell::Tick(Clock::time_point now) {
  if (!inTop_ || now < nextFrame_) return {};
  nextFrame_ += kTopEvery;
  if (nextFrame_ <= now) nextFrame_ = now + kTopEvery;
  return TopFrameAt(now, false);
}

std::optional<DemoShell::Clock::time_point> DemoShell::NextDue() const {
  if (!inTop_) return std::nullopt;
  return nextFrame_;
}

std::string DemoShell::TopFrameAt(Clock::time_point now, bool first) {
  std::string reading = responder_.Reading();  // "T=21.4 C\r\n"
  TopFigures figures{std::chrono::floor<std::chrono::seconds>(now - booted_), topFrames_++,
                     reading.substr(2, reading.size() - 4), waveRate_};
  return first ? TopEnter(figures) : TopFrame(figures);
}

std::optional<int> DemoShell::TakeWaveRequest() {
  return std::exchange(waveRequest_, std::nullopt);
}

}  // namespace quorvel
