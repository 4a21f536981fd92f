#include "console/console.h"

#include <algorithm>

namespace quorvel {
namespace {

// Bytes' worth of libvterm's work the console's thread does per hold of
// the emulator's lock: about 0.7 ms on a 200 x 60 screen, the most a key
// waits for it.
constexpr size_t kSlice = 4096;

std::vector<uint8_t> Bytes(std::string_view text) {
  return {text.begin(), text.end()};
}

}  // namespace

Console::Console(int rows, int columns, const ConsoleOptions& options, SendBytes send,
                 SendPiece sendPiece)
    : send_(std::move(send)),
      sendPiece_(std::move(sendPiece)),
      options_(options),
      inputMapper_(options.input),
      inbox_(std::make_shared<Inbox>()),
      emulator_(rows, columns, options.scrollbackRows) {
  inbox_->options = options;
  // The window's first look fills its copy.
  signalled_ = true;
  changed_.Signal();
  thread_ = std::thread([this] { Run(); });
}

Console::~Console() {
  {
    std::lock_guard lock(inbox_->mutex);
    inbox_->stopping = true;
    inbox_->pieces.clear();
    ++inbox_->paste;
  }
  inbox_->wake.notify_all();
  thread_.join();
}

void Console::Received(const uint8_t* bytes, int count) {
  if (count <= 0) return;
  bool wasEmpty;
  {
    std::lock_guard lock(inbox_->mutex);
    if (inbox_->pending.size() + static_cast<size_t>(count) > kMaxPending) {
      dropped_ += static_cast<uint64_t>(count);
      return;
    }
    wasEmpty = inbox_->pending.empty();
    inbox_->pending.append(reinterpret_cast<const char*>(bytes), static_cast<size_t>(count));
  }
  if (wasEmpty) inbox_->wake.notify_one();
}

void Console::Run() {
  // The window may change the options while this thread starts: its copy
  // is the inbox's, read under the inbox's lock.
  ConsoleOptions start;
  {
    std::lock_guard lock(inbox_->mutex);
    start = inbox_->options;
  }
  LineMapper mapper(start.output);
  TextEncoding encoding = start.keys.encoding;
  bool echo = start.localEcho;
  std::string batch;
  for (;;) {
    std::optional<std::string> piece;
    uint64_t paste = 0;
    {
      std::unique_lock lock(inbox_->mutex);
      inbox_->wake.wait(lock, [this] {
        return inbox_->stopping || !inbox_->pending.empty() || inbox_->optionsChanged ||
               (!inbox_->pieceOut && !inbox_->pieces.empty());
      });
      if (inbox_->stopping) return;
      if (inbox_->optionsChanged) {
        inbox_->optionsChanged = false;
        mapper.SetMap(inbox_->options.output);
        encoding = inbox_->options.keys.encoding;
        echo = inbox_->options.localEcho;
      }
      batch.clear();
      batch.swap(inbox_->pending);
      if (!inbox_->pieceOut && !inbox_->pieces.empty()) {
        piece = std::move(inbox_->pieces.front());
        inbox_->pieces.pop_front();
        inbox_->pieceOut = true;
        paste = inbox_->paste;
      }
    }
    if (piece) {
      std::weak_ptr<Inbox> weak = inbox_;
      auto written = [weak, paste](bool whole) {
        std::shared_ptr<Inbox> inbox = weak.lock();
        if (!inbox) return;
        {
          std::lock_guard lock(inbox->mutex);
          if (inbox->paste != paste) return;  // a paste ended since
          inbox->pieceOut = false;
          if (!whole) {
            // What follows a piece the line did not take would arrive
            // without it: the paste ends.
            inbox->pieces.clear();
            ++inbox->paste;
          }
        }
        inbox->wake.notify_one();
      };
      if (echo) batch += *piece;  // after what came before it, as a device's echo would
      sendPiece_(Bytes(*piece), written);
    }
    if (!batch.empty()) Feed(batch, mapper, encoding);
  }
}

void Console::Feed(std::string_view batch, LineMapper& mapper, TextEncoding encoding) {
  std::string mapped;
  mapper.Apply(batch, mapped);
  std::string work;
  if (encoding == TextEncoding::kLatin1) {
    Latin1ToEmulator(mapped, work);
  } else {
    work.swap(mapped);
  }
  std::string_view rest(work);
  while (!rest.empty()) {
    std::string replies;
    {
      std::lock_guard lock(screenMutex_);
      rest.remove_prefix(emulator_.FeedSome(rest, kSlice));
      replies = emulator_.TakeReplies();
    }
    // The device asked (a cursor position report, its attributes): the
    // answer goes straight back, not through the maps nor the echo.
    if (!replies.empty()) send_(Bytes(replies));
    Signal();
    while (windowWaiting_.load() > 0) std::this_thread::yield();
  }
}

void Console::Signal() {
  if (!signalled_.exchange(true)) changed_.Signal();
}

std::unique_lock<std::mutex> Console::LockForWindow() const {
  ++windowWaiting_;
  std::unique_lock lock(screenMutex_);
  --windowWaiting_;
  return lock;
}

ConsoleOptions Console::Options() const {
  return options_;
}

void Console::SetOptions(const ConsoleOptions& options) {
  if (options.scrollbackRows != options_.scrollbackRows) {
    auto lock = LockForWindow();
    emulator_.History().SetCapacity(options.scrollbackRows);
  }
  options_ = options;
  inputMapper_.SetMap(options.input);
  {
    std::lock_guard lock(inbox_->mutex);
    inbox_->options = options;
    inbox_->optionsChanged = true;
  }
  inbox_->wake.notify_one();
  Signal();
}

bool Console::TakeChanges(ScreenCopy& copy) {
  signalled_ = false;
  changed_.Drain();
  auto lock = LockForWindow();
  std::vector<uint8_t> damaged;
  bool changed = emulator_.TakeDamage(damaged);
  bool sized = copy.rows != emulator_.Rows() || copy.columns != emulator_.Columns() ||
               copy.screen.size() != static_cast<size_t>(emulator_.Rows());
  // A mode libvterm keeps without a word to its screen.
  bool bracketed = emulator_.BracketedPaste();
  changed = changed || bracketed != copy.bracketedPaste;
  if (!changed && !sized) {
    std::fill(copy.changed.begin(), copy.changed.end(), 0);
    return false;
  }
  copy.rows = emulator_.Rows();
  copy.columns = emulator_.Columns();
  copy.screen.resize(static_cast<size_t>(copy.rows));
  copy.changed.assign(static_cast<size_t>(copy.rows), 0);
  for (int r = 0; r < copy.rows; ++r) {
    if (!sized && !damaged[static_cast<size_t>(r)]) continue;
    emulator_.ReadRow(r, copy.screen[static_cast<size_t>(r)]);
    copy.changed[static_cast<size_t>(r)] = 1;
  }
  copy.cursor = emulator_.Cursor();
  copy.altScreen = emulator_.AltScreen();
  copy.reverse = emulator_.ReverseVideo();
  copy.bracketedPaste = bracketed;
  copy.firstLine = emulator_.History().FirstLine();
  copy.screenLine = emulator_.History().EndLine();
  copy.title = emulator_.Title();
  copy.bells = emulator_.Bells();
  return true;
}

void Console::Resize(int rows, int columns) {
  {
    auto lock = LockForWindow();
    emulator_.Resize(rows, columns);
  }
  Signal();
}

void Console::Transmit(const std::string& bytes) {
  if (bytes.empty()) return;
  std::string mapped;
  inputMapper_.Apply(bytes, mapped);
  send_(Bytes(mapped));
  if (options_.localEcho) Echo(mapped);
}

void Console::Echo(std::string_view bytes) {
  {
    std::lock_guard lock(inbox_->mutex);
    inbox_->pending.append(bytes);
  }
  inbox_->wake.notify_one();
}

std::optional<char32_t> Console::Key(const KeyPress& key) {
  EncodedKey encoded;
  {
    auto lock = LockForWindow();
    encoded = EncodeKey(emulator_, key, options_.keys);
  }
  if (encoded.refused) return encoded.refused;
  Transmit(encoded.bytes);
  return std::nullopt;
}

std::optional<char32_t> Console::Paste(std::u16string_view text) {
  std::string start, end;
  {
    auto lock = LockForWindow();
    start = emulator_.PasteMarker(true);
    end = emulator_.PasteMarker(false);
  }
  PasteBytes paste = PasteFor(text, options_.keys.encoding, start, end);
  if (paste.refused) return paste.refused;
  std::string mapped;
  inputMapper_.Apply(paste.bytes, mapped);
  {
    std::lock_guard lock(inbox_->mutex);
    ++inbox_->paste;
    inbox_->pieceOut = false;
    inbox_->pieces.clear();
    for (std::string& piece : CutPieces(mapped, options_.pastePiece)) {
      inbox_->pieces.push_back(std::move(piece));
    }
  }
  inbox_->wake.notify_one();
  return std::nullopt;
}

void Console::CancelPaste() {
  std::lock_guard lock(inbox_->mutex);
  ++inbox_->paste;
  inbox_->pieceOut = false;
  inbox_->pieces.clear();
}

bool Console::Pasting() const {
  std::lock_guard lock(inbox_->mutex);
  return inbox_->pieceOut || !inbox_->pieces.empty();
}

void Console::SendSize() {
  int rows, columns;
  {
    auto lock = LockForWindow();
    rows = emulator_.Rows();
    columns = emulator_.Columns();
  }
  Transmit(SttyCommand(rows, columns));
}

bool Console::ReadLineLocked(uint64_t line, ConsoleRow& row) const {
  const Scrollback& history = emulator_.History();
  if (line < history.FirstLine()) return false;
  if (line < history.EndLine()) {
    UnpackRow(history.Packed(line), emulator_.Columns(), row);
    return true;
  }
  uint64_t screenRow = line - history.EndLine();
  if (screenRow >= static_cast<uint64_t>(emulator_.Rows())) return false;
  emulator_.ReadRow(static_cast<int>(screenRow), row);
  return true;
}

bool Console::ReadLine(uint64_t line, ConsoleRow& row) const {
  auto lock = LockForWindow();
  return ReadLineLocked(line, row);
}

void Console::ReadLines(uint64_t from, int count, std::vector<ConsoleRow>& rows) const {
  auto lock = LockForWindow();
  rows.resize(static_cast<size_t>(std::max(0, count)));
  for (int i = 0; i < count; ++i) {
    if (!ReadLineLocked(from + static_cast<uint64_t>(i), rows[static_cast<size_t>(i)])) {
      rows[static_cast<size_t>(i)] = {};
    }
  }
}

std::string Console::SelectionText(TextPlace from, TextPlace to) const {
  auto lock = LockForWindow();
  return quorvel::SelectionText(
      [this](uint64_t line, ConsoleRow& row) { return ReadLineLocked(line, row); }, from, to);
}

std::optional<TextMatch> Console::Find(std::u32string_view needle, TextPlace from, bool forward,
                                       bool matchCase) const {
  auto lock = LockForWindow();
  FindRequest request;
  request.needle = needle;
  request.forward = forward;
  request.matchCase = matchCase;
  request.firstLine = emulator_.History().FirstLine();
  request.endLine = emulator_.History().EndLine() + static_cast<uint64_t>(emulator_.Rows());
  return FindText([this](uint64_t line, ConsoleRow& row) { return ReadLineLocked(line, row); },
                  request, from);
}

}  // namespace quorvel
