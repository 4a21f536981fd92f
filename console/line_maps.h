// The console's maps of line ends and erase keys, one set for what goes to
// the device (input: what the user types and pastes) and one for what comes
// from it (output, before the emulator), as serial console programs offer
// them: CR to CR LF, LF to CR LF, CR dropped, BS and DEL swapped...
//
// A map works on line breaks, not lone bytes: a CR LF pair is one break, so
// "CR to CR LF" leaves a device's CR LF as it is and "CR to LF" makes it one
// LF. The CR is mapped as soon as it comes (nothing waits for the next
// read) and the LF after it is then mapped as the pair's second half, so a
// pair split across two reads maps as one that came whole.
//
// Also here: Latin-1 as the emulator reads it (UTF-8, with 8-bit controls
// as their ESC forms). Pure values; a LineMapper is one direction's state,
// for one thread at a time.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace quorvel {

enum class CrMap : uint8_t { kKeep = 0, kToLf, kToCrLf, kDrop };
enum class LfMap : uint8_t { kKeep = 0, kToCr, kToCrLf, kDrop };
enum class EraseMap : uint8_t { kKeep = 0, kBsToDel, kDelToBs, kSwap };

struct LineMap {
  CrMap cr = CrMap::kKeep;
  LfMap lf = LfMap::kKeep;
  EraseMap erase = EraseMap::kKeep;
  bool operator==(const LineMap&) const = default;
};

// Each choice with the word the settings file keeps it by ("crlf") and
// what the user reads ("CR → CR LF"); the first is the default.
template <typename Choice>
struct MapChoice {
  Choice value;
  std::string_view key;
  std::string_view label;
};
std::span<const MapChoice<CrMap>> CrMapTable();
std::span<const MapChoice<LfMap>> LfMapTable();
std::span<const MapChoice<EraseMap>> EraseMapTable();
// The choice kept under `key`; nothing for an unknown key.
std::optional<CrMap> CrMapFromKey(std::string_view key);
std::optional<LfMap> LfMapFromKey(std::string_view key);
std::optional<EraseMap> EraseMapFromKey(std::string_view key);

class LineMapper {
 public:
  explicit LineMapper(const LineMap& map = {}) : map_(map) {}
  const LineMap& Map() const { return map_; }
  void SetMap(const LineMap& map) { map_ = map; }

  // Appends `in`, mapped, to `out`.
  void Apply(std::string_view in, std::string& out);

 private:
  LineMap map_;
  bool afterCr_ = false;
};

// Latin-1 bytes as UTF-8, appended to `out`; C1 controls (0x80-0x9F) as
// ESC and the matching 7-bit byte, as an 8-bit terminal reads them.
void Latin1ToEmulator(std::string_view in, std::string& out);

}  // namespace quorvel
