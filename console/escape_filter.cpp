#include "console/escape_filter.h"

#include <algorithm>

namespace quorvel {
namespace {

constexpr uint8_t kEsc = 0x1B;
constexpr uint8_t kCan = 0x18;
constexpr uint8_t kSub = 0x1A;
constexpr uint8_t kBel = 0x07;
constexpr size_t kMaxStringBytes = 4096;  // of an OSC or DCS; more is dropped
constexpr int kMaxLeaders = 4;
constexpr int kMaxIntermediates = 4;
// libvterm keeps 31 bits of a parameter; the 32nd marks a sub-parameter.
constexpr int64_t kParamMask = 0x7FFFFFFF;

}  // namespace

void EscapeFilter::Reset() {
  noWrap_ = insert_ = newline_ = marginsMode_ = protected_ = singleShift_ = false;
  regionTop_ = regionBottom_ = 0;
  asciiSet_ = {true, true, true, true};
  shifted_ = 0;
  unknown_ = false;
}

bool EscapeFilter::Plain(int rows) const {
  bool fullRegion = regionTop_ <= 1 && (regionBottom_ == 0 || regionBottom_ >= rows);
  return !noWrap_ && !insert_ && !newline_ && !marginsMode_ && !protected_ && !singleShift_ &&
         fullRegion && asciiSet_[static_cast<size_t>(shifted_)] && !unknown_ &&
         state_ == State::kGround;
}

void EscapeFilter::PassedPlain(bool lineStart, char lastGraphic) {
  lineStart_ = lineStart;
  afterCr_ = false;
  graphicLast_ = lastGraphic != 0;
  if (graphicLast_) lastGraphic_.assign(1, lastGraphic);
}

void EscapeFilter::Filter(std::string_view bytes, std::string& out) {
  size_t at = 0;
  while (at < bytes.size()) at += FilterLine(bytes.data() + at, bytes.size() - at, out);
}

size_t EscapeFilter::FilterLine(const char* bytes, size_t count, std::string& out) {
  for (size_t i = 0; i < count; ++i) {
    auto byte = static_cast<uint8_t>(bytes[i]);
    switch (state_) {
      case State::kGround:
        Ground(byte, out);
        if (lineStart_) return i + 1;
        break;
      case State::kEscape:
        Escape(byte, out);
        break;
      case State::kCsi:
        Csi(byte, out);
        break;
      case State::kString:
      case State::kStringEscape:
        String(byte, out);
        break;
    }
  }
  return count;
}

void EscapeFilter::Control(uint8_t byte) {
  // SO and SI act wherever they come, inside sequences and strings too.
  if (byte == 0x0E) shifted_ = 1;
  if (byte == 0x0F) shifted_ = 0;
}

void EscapeFilter::Ground(uint8_t byte, std::string& out) {
  if (byte == kEsc) {
    state_ = State::kEscape;
    sequence_.assign(1, static_cast<char>(kEsc));
    intermediates_ = 0;
    intermediate_ = 0;
    lineStart_ = afterCr_ = false;
    return;
  }
  out.push_back(static_cast<char>(byte));
  if (byte < 0x20) {
    Control(byte);
    graphicLast_ = false;
    lineStart_ = byte == '\n' && afterCr_;
    afterCr_ = byte == '\r';
    return;
  }
  lineStart_ = afterCr_ = false;
  if (byte == 0x7F) return;  // DEL: nothing at all
  if (byte < 0x80 || byte >= 0xC0) {
    lastGraphic_.assign(1, static_cast<char>(byte));
    singleShift_ = false;
  } else if (lastGraphic_.size() < 4) {
    lastGraphic_.push_back(static_cast<char>(byte));
  }
  graphicLast_ = true;
}

void EscapeFilter::Escape(uint8_t byte, std::string& out) {
  if (byte == kCan || byte == kSub) {
    state_ = State::kGround;
    return;
  }
  if (byte == kEsc) {
    sequence_.assign(1, static_cast<char>(kEsc));
    intermediates_ = 0;
    return;
  }
  if (byte < 0x20) {
    out.push_back(static_cast<char>(byte));
    Control(byte);
    return;
  }
  if (byte == 0x7F || byte >= 0x80) return;  // libvterm passes over them here
  if (byte < 0x30) {
    if (intermediates_ == 0) intermediate_ = static_cast<char>(byte);
    if (++intermediates_ <= kMaxIntermediates) sequence_.push_back(static_cast<char>(byte));
    return;
  }
  if (intermediates_ == 0 && byte == '[') {
    state_ = State::kCsi;
    sequence_.push_back('[');
    leader_ = 0;
    intermediates_ = 0;
    params_ = 0;
    cut_ = false;
    values_.fill(0);
    given_.fill(false);
    return;
  }
  graphicLast_ = false;
  if (intermediates_ == 0 && (byte == ']' || byte == 'P')) {
    state_ = State::kString;
    sequence_.push_back(static_cast<char>(byte));
    out += sequence_;
    sequence_.clear();  // now counts the string's bytes passed
    return;
  }
  state_ = State::kGround;
  if (intermediates_ > kMaxIntermediates) return;  // garbage: dropped whole
  EndEscape(byte);
  sequence_.push_back(static_cast<char>(byte));
  out += sequence_;
}

void EscapeFilter::EndEscape(uint8_t final) {
  if (intermediates_ == 0) {
    switch (final) {
      case 'c':  // RIS
        Reset();
        break;
      case 'n':  // LS2
        shifted_ = 2;
        break;
      case 'o':  // LS3
        shifted_ = 3;
        break;
      case 'N':  // SS2, SS3: the next character from G2 or G3
      case 'O':
        singleShift_ = true;
        break;
      default:
        break;
    }
    return;
  }
  int set = -1;
  switch (intermediate_) {
    case '(':
    case ')':
    case '*':
    case '+':
      set = intermediate_ - '(';
      break;
    case '-':
    case '.':
    case '/':
      set = intermediate_ - ',';  // 96-character sets go to G1-G3
      break;
    case '%':  // another coding system: not followed
      unknown_ = true;
      return;
    default:
      return;
  }
  asciiSet_[static_cast<size_t>(set)] = intermediate_ <= '+' && intermediates_ == 1 && final == 'B';
}

void EscapeFilter::Csi(uint8_t byte, std::string& out) {
  if (byte == kCan || byte == kSub) {
    state_ = State::kGround;
    return;
  }
  if (byte == kEsc) {
    state_ = State::kEscape;
    sequence_.assign(1, static_cast<char>(kEsc));
    intermediates_ = 0;
    return;
  }
  if (byte < 0x20) {
    out.push_back(static_cast<char>(byte));
    Control(byte);
    graphicLast_ = false;
    return;
  }
  if (byte == 0x7F) return;
  if (byte >= 0x80) {
    // libvterm drops the sequence here; the byte goes on as text.
    state_ = State::kGround;
    Ground(byte, out);
    return;
  }
  bool inParams = intermediates_ == 0;
  if (byte >= 0x3C && byte <= 0x3F && params_ == 0 && inParams) {
    if (static_cast<int>(sequence_.size()) - 2 >= kMaxLeaders) {
      state_ = State::kGround;  // garbage: dropped whole
      return;
    }
    leader_ = leader_ == 0 ? static_cast<char>(byte) : '*';  // '*': more than one
    sequence_.push_back(static_cast<char>(byte));
    return;
  }
  if ((byte >= '0' && byte <= '9') || byte == ';' || byte == ':') {
    if (!inParams) {
      state_ = State::kGround;  // a parameter after an intermediate ends it, dropped
      return;
    }
    if (params_ == 0) params_ = 1;
    if (byte == ';' || byte == ':') {
      if (params_ >= kMaxParameters) cut_ = true;  // past the 16th: left out
      if (cut_) return;
      sequence_.push_back(static_cast<char>(byte));
      ++params_;
      return;
    }
    if (cut_) return;
    size_t p = static_cast<size_t>(params_ - 1);
    // Canonical digits: the value as libvterm reads it, re-emitted at the end.
    uint64_t value = static_cast<uint64_t>(values_[p]) * 10 + (byte - '0');
    values_[p] = static_cast<int64_t>(value & kParamMask);
    given_[p] = true;
    sequence_.push_back(static_cast<char>(1));  // a placeholder for the digits
    return;
  }
  if (byte >= 0x3C && byte <= 0x3F) {
    state_ = State::kGround;  // a leader after parameters: dropped
    return;
  }
  if (byte < 0x30) {
    if (++intermediates_ > kMaxIntermediates) {
      state_ = State::kGround;
      return;
    }
    if (intermediates_ == 1) intermediate_ = static_cast<char>(byte);
    sequence_.push_back(static_cast<char>(byte));
    return;
  }
  state_ = State::kGround;
  EndCsi(byte, out);
}

int EscapeFilter::Param(int i, int missing) const {
  if (i >= params_ || !given_[static_cast<size_t>(i)]) return missing;
  int64_t value = values_[static_cast<size_t>(i)];
  return value == kParamMask ? missing : static_cast<int>(value);
}

void EscapeFilter::SetModes(bool set) {
  for (int i = 0; i < std::max(params_, 1); ++i) {
    int mode = Param(i, -1);
    if (leader_ == 0) {
      if (mode == 4) insert_ = set;
      if (mode == 20) newline_ = set;
    } else if (leader_ == '?') {
      if (mode == 7) noWrap_ = !set;
      if (mode == 69) marginsMode_ = set;
    }
  }
}

void EscapeFilter::EndCsi(uint8_t final, std::string& out) {
  graphicLast_ = graphicLast_ && final == 'b';
  bool plainForm = intermediates_ == 0 && (leader_ == 0 || leader_ == '?');
  if (plainForm && final == 'b' && leader_ == 0) {
    // REP, which libvterm 0.1.4 cannot be trusted with: the character itself.
    if (graphicLast_) {
      int times = std::clamp(Param(0, 1), 1, kMaxRepeat);
      for (int i = 0; i < times; ++i) out += lastGraphic_;
    }
    graphicLast_ = false;
    return;
  }
  graphicLast_ = false;
  if (plainForm && (final == 'h' || final == 'l')) SetModes(final == 'h');
  if (intermediates_ == 0 && leader_ == 0 && final == 'r') {
    int top = std::max(1, Param(0, 1));
    int bottom = Param(1, 0);
    if (bottom == 0 || top < bottom) {  // libvterm keeps the old region otherwise
      regionTop_ = top;
      regionBottom_ = bottom;
    }
  }
  if (intermediates_ == 1 && intermediate_ == '"' && leader_ == 0 && final == 'q') {
    protected_ = Param(0, 0) == 1;  // DECSCA
  }
  // The sequence as gathered, each parameter's digits in canonical form.
  std::string canonical;
  canonical.reserve(sequence_.size() + 8);
  int param = 0;
  bool inDigits = false;
  for (char c : sequence_) {
    if (c == 1) {
      if (!inDigits) canonical += std::to_string(values_[static_cast<size_t>(param)]);
      inDigits = true;
      continue;
    }
    if (inDigits || c == ';' || c == ':') {
      if (c == ';' || c == ':') ++param;
      inDigits = false;
    }
    canonical.push_back(c);
  }
  canonical.push_back(static_cast<char>(final));
  out += canonical;
}

void EscapeFilter::String(uint8_t byte, std::string& out) {
  if (state_ == State::kStringEscape) {
    // An ESC ends the string (libvterm's too: an ST says so plainly) and
    // begins a sequence of its own, unless it is that ST.
    out += "\x1b\\";
    if (byte == '\\') {
      state_ = State::kGround;
      return;
    }
    state_ = State::kEscape;
    sequence_.assign(1, static_cast<char>(kEsc));
    intermediates_ = 0;
    Escape(byte, out);
    return;
  }
  if (byte == kEsc) {
    state_ = State::kStringEscape;
    return;
  }
  if (byte == kBel || byte == kCan || byte == kSub) {
    if (byte == kBel) out.push_back(static_cast<char>(kBel));
    state_ = State::kGround;
    if (byte != kBel) out.push_back(static_cast<char>(kCan));
    return;
  }
  if (byte < 0x20) {
    out.push_back(static_cast<char>(byte));
    Control(byte);
    return;
  }
  if (sequence_.size() < kMaxStringBytes) {
    sequence_.push_back(' ');  // counts the bytes passed
    out.push_back(static_cast<char>(byte));
  }
}

}  // namespace quorvel
