// One line of the session history as the session view shows it: its prefix
// (the stamp, the direction mark, a frame's check mark) and its rows of
// characters, each character knowing the byte of the line it came from, so a
// click, a selection and a find's match map between screen columns and
// history offsets. Pure; UI thread.
#pragma once

#include <QString>
#include <cstdint>
#include <vector>

#include "history/session_lines.h"
#include "settings/view_settings.h"

namespace quorvel {

// The two-letter marks of the directions: "RX" and "TX" for a line and the
// terminal, "A→" and "B→" for the two sides of a linked pair.
struct DirectionMarks {
  QString received = QStringLiteral("RX");
  QString sent = QStringLiteral("TX");
};

struct RowOptions {
  StampKind stamps = StampKind::kTimeOfDay;
  DecodeOptions decode;
  SessionDisplay display = SessionDisplay::kText;
  int widthChars = 80;  // the view's width in columns, for wrapping hex frames
  DirectionMarks marks;
  // A column after the stamp with, on each line that changes direction, the
  // time since the other side last spoke ("+1.250ms").
  bool gaps = false;
};

// Columns the gap column takes, its space included.
inline constexpr int kGapColumns = 12;

struct ShownRow {
  QString text;
  // byteAt[c]: the offset in the line of column c's first byte; one more
  // entry for the row's end.
  std::vector<uint32_t> byteAt;
};

struct ShownLine {
  QString prefix;  // as wide as PrefixWidth for the same options
  std::vector<ShownRow> rows;
};

// Columns the prefix takes: the stamp, a space, the two-letter mark, the
// check mark and a space (and the gap column after the stamp when shown).
int PrefixWidth(StampKind stamps);
// The same with the gap column when `gaps`.
int PrefixWidth(StampKind stamps, bool gaps);

// The gap column's text for a line (blank unless it changes direction).
QString GapText(const SessionLine& line);

// The stamp alone, as wide for every line of the same kind.
QString StampText(StampKind stamps, const SessionLine& line);

ShownLine ShapeLine(const SessionLine& line, const RowOptions& options);

// The column of a row that holds byte `byte` of the line (clamped).
int ColumnOf(const ShownRow& row, uint32_t byte);

}  // namespace quorvel
