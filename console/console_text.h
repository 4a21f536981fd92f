// Text in and out of the console: the bytes a paste sends, cut into paced
// pieces; the text of a selection; finding text over the scrollback and the
// screen; the command that tells the device's programs the screen's size.
//
// Lines are numbered as the scrollback numbers them (scrollback.h), the
// screen's rows following its newest: a place keeps its text as rows
// scroll off. Pure functions; any thread.
#pragma once

#include <compare>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "console/console_cells.h"
#include "sending/text_encoding.h"

namespace quorvel {

struct TextPlace {
  uint64_t line = 0;
  int column = 0;
  auto operator<=>(const TextPlace&) const = default;
};

struct TextMatch {
  TextPlace at;
  int columns = 0;  // of the screen it covers (a wide character counts two)
  bool operator==(const TextMatch&) const = default;
};

// Reads line `line` into `row`; false when there is no such line.
using LineReader = std::function<bool(uint64_t line, ConsoleRow& row)>;

// The text from `from` to `to` (either way round; `to`'s column is not
// included), lines joined with LF, each without its trailing blanks, a wide
// character once if any of its cells is in.
std::string SelectionText(const LineReader& read, TextPlace from, TextPlace to);

struct FindRequest {
  std::u32string needle;
  bool forward = true;
  bool matchCase = false;
  uint64_t firstLine = 0;  // the lines searched: [firstLine, endLine)
  uint64_t endLine = 0;
};
// The first match at or after `from` (forward) or the last one before it,
// within one line; nothing when there is none.
std::optional<TextMatch> FindText(const LineReader& read, const FindRequest& request,
                                  TextPlace from);

// The bytes a paste of `text` sends: line breaks (CR LF, LF, CR) as CR, as
// a terminal sends them; in `start` and `end` (the bracketed paste markers)
// when the device asked for them, without any marker the text itself holds,
// so a paste cannot end the bracket early. A character the encoding cannot
// carry refuses the paste.
struct PasteBytes {
  std::string bytes;
  std::optional<char32_t> refused;
};
PasteBytes PasteFor(std::u16string_view text, TextEncoding encoding, std::string_view start,
                    std::string_view end);

// `bytes` in pieces of at most `piece` bytes (at least 1), in order.
std::vector<std::string> CutPieces(std::string_view bytes, size_t piece);

// What tells the device's programs the screen's size, for a serial line
// carries none: "stty rows R cols C" and CR.
std::string SttyCommand(int rows, int columns);

}  // namespace quorvel
