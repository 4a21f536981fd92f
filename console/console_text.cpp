#include "console/console_text.h"

#include <algorithm>

namespace quorvel {
namespace {

// Case folded for a find: the letters of ASCII, Latin-1, Greek and Cyrillic.
char32_t Fold(char32_t c) {
  if (c >= U'A' && c <= U'Z') return c + 32;
  if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return c + 32;
  if (c >= 0x391 && c <= 0x3A9 && c != 0x3A2) return c + 32;
  if (c >= 0x410 && c <= 0x42F) return c + 32;
  if (c >= 0x400 && c <= 0x40F) return c + 80;
  return c;
}

std::u32string Folded(std::u32string text) {
  for (char32_t& c : text) c = Fold(c);
  return text;
}

void RemoveAll(std::u16string& text, std::u16string_view what) {
  for (size_t at; (at = text.find(what)) != std::u16string::npos;) text.erase(at, what.size());
}

}  // namespace

std::string SelectionText(const LineReader& read, TextPlace from, TextPlace to) {
  if (to < from) std::swap(from, to);
  std::string out;
  if (from == to) return out;
  ConsoleRow row;
  for (uint64_t line = from.line; line <= to.line; ++line) {
    if (line > from.line) out.push_back('\n');
    if (!read(line, row)) continue;
    int width = static_cast<int>(row.cells.size());
    int start = line == from.line ? std::clamp(from.column, 0, width) : 0;
    int end = line == to.line ? std::clamp(to.column, 0, width) : width;
    std::string text;
    size_t kept = 0;
    for (int c = start; c < end; ++c) {
      int at = c;
      if (row.cells[static_cast<size_t>(c)].ch == kWideTail) {
        // The right half of a wide character: it counts only when the
        // selection begins on it, and then as the character.
        if (c != start || c == 0) continue;
        at = c - 1;
      }
      const Cell& cell = row.cells[static_cast<size_t>(at)];
      AppendUtf8(text, cell.ch == 0 || cell.ch == kWideTail ? U' ' : cell.ch);
      if (cell.marked) {
        for (char32_t mark : row.MarksAt(at)) AppendUtf8(text, mark);
      }
      if (cell.ch != 0 && cell.ch != U' ' && cell.ch != kWideTail) kept = text.size();
    }
    text.resize(kept);
    out += text;
  }
  return out;
}

std::optional<TextMatch> FindText(const LineReader& read, const FindRequest& request,
                                  TextPlace from) {
  if (request.needle.empty() || request.endLine <= request.firstLine) return std::nullopt;
  std::u32string needle = request.matchCase ? request.needle : Folded(request.needle);
  ConsoleRow row;
  std::u32string text;
  std::vector<int> columns;
  auto matchIn = [&](uint64_t line, int after, int before) -> std::optional<TextMatch> {
    if (!read(line, row)) return std::nullopt;
    RowCodePoints(row, text, columns);
    if (!request.matchCase) text = Folded(std::move(text));
    std::optional<TextMatch> found;
    for (size_t at = text.find(needle); at != std::u32string::npos;
         at = text.find(needle, at + 1)) {
      int column = columns[at];
      if (column < after) continue;
      if (column >= before) break;
      const size_t last = at + needle.size() - 1;
      int lastColumn = columns[last];
      int end = lastColumn + std::max<int>(1, row.cells[static_cast<size_t>(lastColumn)].width);
      found = TextMatch{{line, column}, end - column};
      if (request.forward) break;  // the first; backward goes on to the last
    }
    return found;
  };
  constexpr int kAll = 1 << 30;
  if (request.forward) {
    uint64_t line = std::max(from.line, request.firstLine);
    int after = line == from.line ? from.column : 0;
    for (; line < request.endLine; ++line, after = 0) {
      if (auto match = matchIn(line, after, kAll)) return match;
    }
  } else {
    uint64_t line = std::min(from.line, request.endLine - 1);
    int before = line == from.line ? from.column : kAll;
    for (;; before = kAll) {
      if (auto match = matchIn(line, 0, before)) return match;
      if (line == request.firstLine) break;
      --line;
    }
  }
  return std::nullopt;
}

PasteBytes PasteFor(std::u16string_view text, TextEncoding encoding, std::string_view start,
                    std::string_view end) {
  std::u16string lines;
  lines.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    char16_t c = text[i];
    if (c == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n') ++i;
    lines.push_back(c == u'\n' ? u'\r' : c);
  }
  bool bracketed = !start.empty();
  if (bracketed) {
    RemoveAll(lines, u"\x1b[200~");
    RemoveAll(lines, u"\x1b[201~");
  }
  EncodedText encoded = EncodeText(lines, encoding);
  PasteBytes out;
  if (encoded.refused) {
    out.refused = encoded.refused;
    return out;
  }
  out.bytes.reserve(encoded.bytes.size() + start.size() + end.size());
  out.bytes.append(start);
  out.bytes += encoded.bytes;
  if (bracketed) out.bytes.append(end);
  return out;
}

std::vector<std::string> CutPieces(std::string_view bytes, size_t piece) {
  piece = std::max<size_t>(1, piece);
  std::vector<std::string> pieces;
  pieces.reserve(bytes.size() / piece + 1);
  for (size_t at = 0; at < bytes.size(); at += piece) {
    pieces.emplace_back(bytes.substr(at, piece));
  }
  return pieces;
}

std::string SttyCommand(int rows, int columns) {
  return "stty rows " + std::to_string(rows) + " cols " + std::to_string(columns) + "\r";
}

}  // namespace quorvel
