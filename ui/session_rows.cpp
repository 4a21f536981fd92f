#include "ui/session_rows.h"

#include <QDateTime>
#include <algorithm>
#include <climits>

namespace quorvel {
namespace {

constexpr int kStampWidths[] = {0, 12, 10, 9};  // none, hh:mm:ss.mmm, s.mmm, +ms

QString Mark(const SessionLine& line, const DirectionMarks& marks) {
  switch (line.kind) {
    case SessionKind::kReceived:
      return marks.received;
    case SessionKind::kSent:
      return marks.sent;
    case SessionKind::kEvent:
      return QStringLiteral("--");
  }
  return QStringLiteral("  ");
}

QChar CheckMark(FrameCheck check) {
  switch (check) {
    case FrameCheck::kValid:
      return QChar(0x2713);  // ✓
    case FrameCheck::kBad:
      return QChar(0x2717);  // ✗
    case FrameCheck::kUnchecked:
      break;
  }
  return QLatin1Char(' ');
}

// What kind of event a line is, said before its details (the link gives the
// device and the line settings, which alone do not say what happened).
constexpr struct {
  SessionEvent event;
  const char* label;
} kEventLabels[] = {
    {SessionEvent::kLinkOpened, "Opened"},        {SessionEvent::kLinkClosed, "Closed"},
    {SessionEvent::kDeviceAway, "Away"},          {SessionEvent::kDeviceBack, "Back"},
    {SessionEvent::kSettingsChanged, "Settings"}, {SessionEvent::kBreakSent, "Break"},
    {SessionEvent::kLoggingStarted, "Logging"},   {SessionEvent::kLoggingStopped, "Logging"},
    {SessionEvent::kTransfer, "Transfer"},        {SessionEvent::kNote, "Note"},
};

QString EventLabel(SessionEvent event) {
  for (const auto& entry : kEventLabels) {
    if (entry.event == event) return QString::fromLatin1(entry.label);
  }
  return {};
}

ShownRow TextRow(const SessionLine& line, const DecodeOptions& options) {
  DecodedLine decoded = DecodeLine(line.bytes, options);
  ShownRow row;
  row.text.reserve(static_cast<qsizetype>(decoded.text.size()));
  row.byteAt.reserve(decoded.text.size() + 1);
  for (size_t i = 0; i < decoded.text.size(); ++i) {
    char32_t c = decoded.text[i];
    // One column per character: a character beyond the basic plane (two
    // UTF-16 units) would shift every column after it, so it shows as U+FFFD.
    row.text.append(c > 0xFFFF ? QChar(0xFFFD) : QChar(static_cast<char16_t>(c)));
    row.byteAt.push_back(decoded.byteOf[i]);
  }
  row.byteAt.push_back(decoded.byteOf.empty() ? 0 : decoded.byteOf.back());
  return row;
}

// The local time's offset from UTC changes only on an hour's boundary, so it
// is looked up once an hour of stamps: a flood's repaints format thousands of
// stamps a second. UI thread only.
int64_t LocalOffsetMs(int64_t wallMs) {
  static int64_t hour = INT64_MIN;
  static int64_t offsetMs = 0;
  int64_t thisHour = wallMs / 3'600'000;
  if (thisHour != hour) {
    hour = thisHour;
    offsetMs = int64_t{QDateTime::fromMSecsSinceEpoch(wallMs).offsetFromUtc()} * 1000;
  }
  return offsetMs;
}

QString TimeOfDay(int64_t wallMs) {
  constexpr int64_t kDayMs = 86'400'000;
  int64_t ms = ((wallMs + LocalOffsetMs(wallMs)) % kDayMs + kDayMs) % kDayMs;
  char text[13];
  auto put = [&](int at, int64_t value, int digits) {
    for (int i = digits - 1; i >= 0; --i, value /= 10)
      text[at + i] = static_cast<char>('0' + value % 10);
  };
  put(0, ms / 3'600'000, 2);
  text[2] = ':';
  put(3, ms / 60'000 % 60, 2);
  text[5] = ':';
  put(6, ms / 1000 % 60, 2);
  text[8] = '.';
  put(9, ms % 1000, 3);
  return QString::fromLatin1(text, 12);
}

}  // namespace

int PrefixWidth(StampKind stamps) {
  int stamp = kStampWidths[static_cast<int>(stamps)];
  return (stamp > 0 ? stamp + 1 : 0) + 4;
}

int PrefixWidth(StampKind stamps, bool gaps) {
  return PrefixWidth(stamps) + (gaps ? kGapColumns : 0);
}

QString GapText(const SessionLine& line) {
  constexpr int kWidth = kGapColumns - 1;
  if (line.sinceOtherNs < 0) return QString(kWidth, QLatin1Char(' '));
  double ms = static_cast<double>(line.sinceOtherNs) / 1e6;
  QString text = ms < 1000 ? QStringLiteral("+%1ms").arg(ms, 0, 'f', 3)
                           : QStringLiteral("+%1s").arg(ms / 1000, 0, 'f', 3);
  return text.rightJustified(kWidth, QLatin1Char(' '), true);
}

QString StampText(StampKind stamps, const SessionLine& line) {
  int width = kStampWidths[static_cast<int>(stamps)];
  switch (stamps) {
    case StampKind::kNone:
      return {};
    case StampKind::kTimeOfDay:
      return TimeOfDay(line.wallMs);
    case StampKind::kSinceOpen:
      return QString::number(static_cast<double>(line.sinceOpenNs) / 1e9, 'f', 3)
          .rightJustified(width);
    case StampKind::kSincePrevious:
      return (QLatin1Char('+') + QString::number(line.sincePreviousNs / 1'000'000))
          .rightJustified(width);
  }
  return {};
}

ShownLine ShapeLine(const SessionLine& line, const RowOptions& options) {
  ShownLine shown;
  QString stamp = StampText(options.stamps, line);
  if (!stamp.isEmpty()) shown.prefix = stamp + QLatin1Char(' ');
  if (options.gaps) shown.prefix += GapText(line) + QLatin1Char(' ');
  shown.prefix += Mark(line, options.marks) + CheckMark(line.check) + QLatin1Char(' ');
  if (line.kind == SessionKind::kEvent || options.display == SessionDisplay::kText) {
    DecodeOptions decode = options.decode;
    if (line.kind == SessionKind::kEvent) decode = {};
    ShownRow row = TextRow(line, decode);
    QString label = line.kind == SessionKind::kEvent ? EventLabel(line.event) : QString();
    if (!label.isEmpty() && !row.text.startsWith(label)) {
      // The label's columns belong to the line's first byte.
      row.text.prepend(label + QLatin1Char(' '));
      row.byteAt.insert(row.byteAt.begin(), static_cast<size_t>(label.size()) + 1, 0);
    }
    shown.rows.push_back(std::move(row));
    return shown;
  }
  int indent = PrefixWidth(options.stamps, options.gaps);
  HexRows hex = WrapHex(line.bytes, options.widthChars, indent);
  uint32_t first = 0;
  for (const std::string& text : hex.rows) {
    ShownRow row;
    row.text = QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
    // Rows after the first carry the indent as spaces; the view draws the
    // prefix there instead, so every row starts at the same column.
    if (!shown.rows.empty()) row.text.remove(0, indent);
    for (qsizetype c = 0; c <= row.text.size(); ++c) {
      uint32_t byte = first + static_cast<uint32_t>(c / 3);
      row.byteAt.push_back(std::min<uint32_t>(byte, static_cast<uint32_t>(line.bytes.size())));
    }
    first += static_cast<uint32_t>(hex.bytesPerRow);
    shown.rows.push_back(std::move(row));
  }
  if (shown.rows.empty()) shown.rows.push_back({QString(), {0}});
  return shown;
}

int ColumnOf(const ShownRow& row, uint32_t byte) {
  auto found = std::lower_bound(row.byteAt.begin(), row.byteAt.end(), byte);
  return static_cast<int>(found - row.byteAt.begin());
}

}  // namespace quorvel
