// The send history, the send list and its panel in the settings file, each in
// a section of its own beside the terminal's keys:
//   [SendHistory]    Text<n>, Hex<n> (0 or 1): n = 1 is the newest send
//   [SendList]       Name<n>, Content<n>, Hex<n>, Escapes<n> (0 or 1),
//                    Ending<n> (none, cr, lf, crlf), Checksum<n> (a key of
//                    ChecksumTable(), none by default), DelayMs<n>: the
//                    entries in the order of n
//   [SendListPanel]  Shown, Repeat (0 or 1)
// Texts are stored escaped (EscapeValue) so any bytes survive the file. The
// list's export file is a profile file of its own holding a [SendList]
// section in the same form, so a team can share one and edit it by hand.
//
// Loading never loses a stored entry: one the list cannot take (it breaks a
// limit, names an unknown ending or check, or comes after the list is full)
// is kept aside as it was stored, for the user to hear of, and every save
// writes it back after the list's own entries. Importing is strict: the first
// problem is reported and nothing is taken. Saving writes only these keys
// (and removes the numbered keys a shorter list no longer has), keeping every
// other line; a failed save leaves the file as it was. UI thread.
#pragma once

#include <filesystem>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "sending/send_history.h"
#include "sending/send_list.h"

namespace quorvel {

inline constexpr char kSendHistorySection[] = "SendHistory";
inline constexpr char kSendListSection[] = "SendList";
inline constexpr char kSendListPanelSection[] = "SendListPanel";

// Backslash, CR, LF and tab as \\ \r \n \t, other control bytes and bytes
// from 0x7F up as \xHH: the result is printable ASCII on one line.
std::string EscapeValue(std::string_view bytes);
// The inverse; a backslash not starting one of those forms is kept as it is.
std::string UnescapeValue(std::string_view text);

std::vector<HistoryEntry> LoadSendHistory(const std::filesystem::path& file);
bool SaveSendHistory(const std::vector<HistoryEntry>& entries, const std::filesystem::path& file);

// A [SendList] entry that the list cannot take, with what is wrong with it.
struct KeptSendListEntry {
  std::size_t number = 0;                     // its n in the file it was loaded from
  std::string name;                           // as stored, unescaped
  std::string problem;                        // a sentence for the user
  std::map<std::string, std::string> fields;  // "Content" and the others: the values as stored
  bool operator==(const KeptSendListEntry&) const = default;
};

struct StoredSendList {
  std::vector<SendListEntry> entries;  // at most kMaxSendListEntries
  std::vector<KeptSendListEntry> kept;
};

StoredSendList LoadSendList(const std::filesystem::path& file);
// Writes `entries` as entries 1 to n, then `kept` after them, each with the
// fields it was stored with.
bool SaveSendList(const std::vector<SendListEntry>& entries, const std::filesystem::path& file,
                  const std::vector<KeptSendListEntry>& kept = {});
// For the user: which entries of `file` are kept aside and why, one line
// each (the first kMaxKeptLinesShown, then how many more); "" for none.
std::string KeptEntriesMessage(const std::vector<KeptSendListEntry>& kept,
                               const std::filesystem::path& file);
inline constexpr std::size_t kMaxKeptLinesShown = 10;

struct SendListPanelSettings {
  bool shown = false;
  bool repeat = false;
};
SendListPanelSettings LoadSendListPanel(const std::filesystem::path& file);
bool SaveSendListPanel(const SendListPanelSettings& settings, const std::filesystem::path& file);

struct SendListImport {
  std::vector<SendListEntry> entries;
  std::string problem;  // "" when the file was taken
};
// The entries of a send list file, or the first problem found with it: a
// file that cannot be read or is too large, no [SendList] section or no
// entries in it, more than `room` entries, an entry that cannot be kept.
SendListImport ImportSendList(const std::filesystem::path& file, std::size_t room);
// Writes `entries` as a new send list file at `file`, replacing it whole.
bool ExportSendList(const std::vector<SendListEntry>& entries, const std::filesystem::path& file);

}  // namespace quorvel
