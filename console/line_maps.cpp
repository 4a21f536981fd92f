#include "console/line_maps.h"

namespace quorvel {
namespace {

constexpr MapChoice<CrMap> kCrMaps[] = {
    {CrMap::kKeep, "keep", "CR as it is"},
    {CrMap::kToLf, "lf", "CR → LF"},
    {CrMap::kToCrLf, "crlf", "CR → CR LF"},
    {CrMap::kDrop, "drop", "CR dropped"},
};
constexpr MapChoice<LfMap> kLfMaps[] = {
    {LfMap::kKeep, "keep", "LF as it is"},
    {LfMap::kToCr, "cr", "LF → CR"},
    {LfMap::kToCrLf, "crlf", "LF → CR LF"},
    {LfMap::kDrop, "drop", "LF dropped"},
};
constexpr MapChoice<EraseMap> kEraseMaps[] = {
    {EraseMap::kKeep, "keep", "BS and DEL as they are"},
    {EraseMap::kBsToDel, "bs-del", "BS → DEL"},
    {EraseMap::kDelToBs, "del-bs", "DEL → BS"},
    {EraseMap::kSwap, "swap", "BS ↔ DEL"},
};

template <typename Choice, size_t N>
std::optional<Choice> FromKey(const MapChoice<Choice> (&table)[N], std::string_view key) {
  for (const auto& choice : table) {
    if (choice.key == key) return choice.value;
  }
  return std::nullopt;
}

const char* CrOut(CrMap map) {
  switch (map) {
    case CrMap::kKeep:
      return "\r";
    case CrMap::kToLf:
      return "\n";
    case CrMap::kToCrLf:
      return "\r\n";
    case CrMap::kDrop:
      break;
  }
  return "";
}

const char* LfOut(LfMap map) {
  switch (map) {
    case LfMap::kKeep:
      return "\n";
    case LfMap::kToCr:
      return "\r";
    case LfMap::kToCrLf:
      return "\r\n";
    case LfMap::kDrop:
      break;
  }
  return "";
}

// The LF of a CR LF pair, after its CR went out as CrOut: what the pair
// still lacks. A CR that became LF or CR LF already ended the line; a
// dropped CR leaves the LF to map as a lone one; a kept CR leaves the LF
// whatever finishes the break as the LF map wants it.
const char* PairTail(const LineMap& map) {
  switch (map.cr) {
    case CrMap::kToLf:
    case CrMap::kToCrLf:
      return "";
    case CrMap::kDrop:
      return LfOut(map.lf);
    case CrMap::kKeep:
      break;
  }
  return map.lf == LfMap::kKeep || map.lf == LfMap::kToCrLf ? "\n" : "";
}

}  // namespace

std::span<const MapChoice<CrMap>> CrMapTable() {
  return kCrMaps;
}
std::span<const MapChoice<LfMap>> LfMapTable() {
  return kLfMaps;
}
std::span<const MapChoice<EraseMap>> EraseMapTable() {
  return kEraseMaps;
}
std::optional<CrMap> CrMapFromKey(std::string_view key) {
  return FromKey(kCrMaps, key);
}
std::optional<LfMap> LfMapFromKey(std::string_view key) {
  return FromKey(kLfMaps, key);
}
std::optional<EraseMap> EraseMapFromKey(std::string_view key) {
  return FromKey(kEraseMaps, key);
}

void LineMapper::Apply(std::string_view in, std::string& out) {
  if (map_ == LineMap{}) {
    // Nothing to map: the common case, and the flood's, stays a copy.
    out.append(in);
    if (!in.empty()) afterCr_ = in.back() == '\r';
    return;
  }
  out.reserve(out.size() + in.size());
  for (char c : in) {
    bool wasAfterCr = afterCr_;
    afterCr_ = c == '\r';
    switch (c) {
      case '\r':
        out += CrOut(map_.cr);
        break;
      case '\n':
        out += wasAfterCr ? PairTail(map_) : LfOut(map_.lf);
        break;
      case '\b':
        out.push_back(map_.erase == EraseMap::kBsToDel || map_.erase == EraseMap::kSwap ? '\x7f'
                                                                                        : '\b');
        break;
      case '\x7f':
        out.push_back(map_.erase == EraseMap::kDelToBs || map_.erase == EraseMap::kSwap ? '\b'
                                                                                        : '\x7f');
        break;
      default:
        out.push_back(c);
        break;
    }
  }
}

void Latin1ToEmulator(std::string_view in, std::string& out) {
  out.reserve(out.size() + in.size());
  for (char c : in) {
    auto byte = static_cast<uint8_t>(c);
    if (byte < 0x80) {
      out.push_back(c);
    } else if (byte < 0xA0) {
      out.push_back('\x1b');
      out.push_back(static_cast<char>(byte - 0x40));
    } else {
      out.push_back(static_cast<char>(0xC0 | (byte >> 6)));
      out.push_back(static_cast<char>(0x80 | (byte & 0x3F)));
    }
  }
}

}  // namespace quorvel
