// The send history and the send list: the history's order and limit, and
// both kept in the settings file and the list in its export file, whatever
// bytes they hold; import files that must be refused whole.
#include "settings/send_store.h"

#include <gtest/gtest.h>

#include "settings/profile_file.h"
#include "support/temp_files.h"

namespace quorvel {
namespace {

using testing::ReadAll;
using testing::TempDir;
using testing::WriteFile;
using namespace std::string_literals;

std::string AllBytes() {
  std::string bytes;
  for (int i = 0; i < 256; ++i) bytes += static_cast<char>(i);
  return bytes;
}

class EscapeTest : public ::testing::TestWithParam<std::string> {};

TEST_P(EscapeTest, RoundTripsAsOnePrintableLine) {
  std::string escaped = EscapeValue(GetParam());
  for (char c : escaped) EXPECT_TRUE(c >= 0x20 && c < 0x7F) << escaped;
  EXPECT_EQ(UnescapeValue(escaped), GetParam());
}

INSTANTIATE_TEST_SUITE_P(Texts, EscapeTest,
                         ::testing::Values(""s, "AT\r\n"s, "a\\nb"s, "\\x41"s, "\\"s,
                                           "  quoted \"x\"  "s, "'q'"s, "\0\x01\xff"s, AllBytes()));

TEST(UnescapeTest, KeepsWhatIsNoEscape) {
  EXPECT_EQ(UnescapeValue("a\\qb\\x4\\xZZ\\"), "a\\qb\\x4\\xZZ\\");
  EXPECT_EQ(UnescapeValue("\\x0d\\X41"), "\r\\X41");
}

TEST(SendHistoryTest, NewestFirstDuplicatesToTopAndBounded) {
  SendHistory history;
  EXPECT_TRUE(history.Add({"a", false}));
  history.Add({"b", false});
  history.Add({"a", true});  // the same text as hex is another send
  history.Add({"a", false});
  EXPECT_EQ(history.Entries(),
            (std::vector<HistoryEntry>{{"a", false}, {"a", true}, {"b", false}}));
  EXPECT_FALSE(history.Add({"", false}));
  for (int i = 0; i < 150; ++i) history.Add({std::to_string(i), false});
  ASSERT_EQ(history.Entries().size(), kMaxHistoryEntries);
  EXPECT_EQ(history.Entries().front().text, "149");
  EXPECT_EQ(history.Entries().back().text, "50");
}

// "41 " repeated: three characters a byte.
std::string HexText(std::size_t bytes, const char* byte = "41 ") {
  std::string text;
  for (std::size_t i = 0; i < bytes; ++i) text += byte;
  return text;
}

std::string Repeat(const char* text, std::size_t times) {
  std::string repeated;
  for (std::size_t i = 0; i < times; ++i) repeated += text;
  return repeated;
}

struct SendSize {
  const char* name;
  std::string content;
  bool hex;
  bool escapes;
  bool kept;
};

void PrintTo(const SendSize& size, std::ostream* out) {
  *out << size.name;
}

class SendLimitTest : public ::testing::TestWithParam<SendSize> {};

// The limits count the bytes a send puts on the wire, not the characters it
// was typed in: the send list's entries and the history alike.
TEST_P(SendLimitTest, CountsBytesOnceParsed) {
  const SendSize& size = GetParam();
  SendListEntry entry{"e", size.content, size.hex, {LineEnding::kNone, size.escapes}, 0};
  EXPECT_EQ(EntryProblem(entry).empty(), size.kept) << EntryProblem(entry);
  SendHistory history;
  EXPECT_EQ(history.Add({size.content, size.hex}), size.kept);
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, SendLimitTest,
    ::testing::Values(SendSize{"Hex342Bytes", HexText(342), true, false, true},
                      SendSize{"Hex1024Bytes", HexText(1024), true, false, true},
                      SendSize{"Hex1024BytesWithCommas", HexText(1024, "41, "), true, false, true},
                      SendSize{"Hex1025Bytes", HexText(1025), true, false, false},
                      SendSize{"Text1024Bytes", std::string(1024, 'x'), false, false, true},
                      SendSize{"Text1025Bytes", std::string(1025, 'x'), false, false, false},
                      SendSize{"Escapes1024Bytes", Repeat("\\x41", 1024), false, true, true},
                      SendSize{"TextTooLongToType", HexText(1366, "4 "), true, false, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(SendHistoryTest, WalksOlderAndBackToTheBox) {
  SendHistory history;
  EXPECT_FALSE(history.Older());
  history.Assign({{"new", false}, {"old", true}});
  EXPECT_EQ(history.Older()->text, "new");
  EXPECT_EQ(history.Older()->text, "old");
  EXPECT_EQ(history.Older()->text, "old");  // stays at the oldest
  EXPECT_EQ(history.Newer()->text, "new");
  EXPECT_FALSE(history.Newer());
  EXPECT_FALSE(history.Walking());
  history.Older();
  history.Add({"x", false});
  EXPECT_FALSE(history.Walking());
}

TEST(SendHistoryStoreTest, SurvivesTheFileAndShrinksWithoutTouchingOtherLines) {
  TempDir dir;
  auto file = dir / "Quorvel.ini";
  WriteFile(file, "[COMConfig]\nBRATE=7\n[SendHistory]\n; mine\nOther=1\n");
  std::vector<HistoryEntry> entries;
  for (int i = 0; i < 100; ++i)
    entries.push_back({"send " + std::to_string(i) + "\r\n", i % 2 != 0});
  entries[0] = {AllBytes(), true};
  ASSERT_TRUE(SaveSendHistory(entries, file));
  EXPECT_EQ(LoadSendHistory(file), entries);
  entries.resize(2);
  ASSERT_TRUE(SaveSendHistory(entries, file));
  EXPECT_EQ(LoadSendHistory(file), entries);
  std::string text = ReadAll(file);
  EXPECT_EQ(text.find("Text3="), std::string::npos);
  EXPECT_NE(text.find("BRATE=7"), std::string::npos);
  EXPECT_NE(text.find("; mine\nOther=1"), std::string::npos);
}

std::string ManyEntries(int count) {
  std::string text = "[SendList]\n";
  for (int i = 1; i <= count; ++i) text += "Name" + std::to_string(i) + "=e\n";
  return text;
}

std::vector<SendListEntry> SampleList() {
  SendListEntry read{"Read holding registers", "01 03 00 00 00 0A", true, {}, 250};
  read.options.checksum = ChecksumKind::kModbusCrc16;
  SendListEntry at{"AT \\ \"quoted\"", "AT+GMR\\r\x01\xfe", false, {}, 0};
  at.options = {LineEnding::kCrLf, true, ChecksumKind::kNone};
  return {
      read, at, {"  spaced  ", "", false, {LineEnding::kLf, false, ChecksumKind::kCrc32}, 60000}};
}

TEST(SendListStoreTest, RoundTripsThroughItsSectionAndAnExportFile) {
  TempDir dir;
  auto ini = dir / "Quorvel.ini";
  std::vector<SendListEntry> list = SampleList();
  ASSERT_TRUE(SaveSendList(list, ini));
  EXPECT_EQ(LoadSendList(ini).entries, list);
  ASSERT_TRUE(SaveSendList({list[1]}, ini));
  EXPECT_EQ(LoadSendList(ini).entries, std::vector<SendListEntry>{list[1]});
  EXPECT_EQ(ReadAll(ini).find("Name2"), std::string::npos);

  auto shared = dir / "team.qsl";
  ASSERT_TRUE(ExportSendList(list, shared));
  SendListImport imported = ImportSendList(shared, kMaxSendListEntries);
  EXPECT_EQ(imported.problem, "");
  EXPECT_EQ(imported.entries, list);
}

// An entry the list cannot use is named and stays in the file, through saves
// of the list, with the values it was stored with.
TEST(SendListStoreTest, KeepsWhatCannotBeUsedInTheFile) {
  TempDir dir;
  auto ini = dir / "Quorvel.ini";
  std::string tooLong = HexText(1025);
  tooLong.pop_back();  // the file keeps no trailing space
  WriteFile(ini, "[SendList]\nName1=good\nContent1=01 02\nHex1=1\nName2=big\nContent2=" + tooLong +
                     "\nHex2=1\nName3=odd\nChecksum3=crc-99\nName5=last\n");
  StoredSendList stored = LoadSendList(ini);
  ASSERT_EQ(stored.entries.size(), 2u);
  EXPECT_EQ(stored.entries[1].name, "last");
  ASSERT_EQ(stored.kept.size(), 2u);
  std::string message = KeptEntriesMessage(stored.kept, ini);
  for (const char* part : {"Entry 2 \"big\": The content is 1025 bytes, more than 1024.",
                           "Entry 3 \"odd\": The check \"crc-99\" is not known."}) {
    EXPECT_NE(message.find(part), std::string::npos) << message;
  }

  stored.entries.erase(stored.entries.begin());  // the user deletes "good"
  ASSERT_TRUE(SaveSendList(stored.entries, ini, stored.kept));
  StoredSendList again = LoadSendList(ini);
  ASSERT_EQ(again.entries.size(), 1u);
  EXPECT_EQ(again.entries[0].name, "last");
  ASSERT_EQ(again.kept.size(), 2u);
  EXPECT_EQ(again.kept[0].fields, stored.kept[0].fields);
  EXPECT_EQ(again.kept[1].fields, stored.kept[1].fields);
  std::string text = ReadAll(ini);
  EXPECT_NE(text.find("Content2=" + tooLong), std::string::npos) << text;
  EXPECT_NE(text.find("Checksum3=crc-99"), std::string::npos) << text;
  EXPECT_EQ(text.find("Hex3"), std::string::npos) << "no field of another entry stays behind";
}

TEST(SendListStoreTest, EntriesPastTheLimitAreKeptToo) {
  TempDir dir;
  auto ini = dir / "Quorvel.ini";
  WriteFile(ini, ManyEntries(static_cast<int>(kMaxSendListEntries) + 2));
  StoredSendList stored = LoadSendList(ini);
  EXPECT_EQ(stored.entries.size(), kMaxSendListEntries);
  ASSERT_EQ(stored.kept.size(), 2u);
  EXPECT_EQ(stored.kept[1].number, kMaxSendListEntries + 2);
  ASSERT_TRUE(SaveSendList(stored.entries, ini, stored.kept));
  EXPECT_EQ(LoadSendList(ini).kept.size(), 2u);
}

struct HostileFile {
  const char* name;
  std::string (*text)();  // made when the case runs, not when it is registered
  const char* problem;    // a part of the message
};

class HostileImportTest : public ::testing::TestWithParam<HostileFile> {};

TEST_P(HostileImportTest, IsRefusedWholeWithAClearMessage) {
  TempDir dir;
  auto file = dir / "import.ini";
  WriteFile(file, GetParam().text());
  SendListImport imported = ImportSendList(file, 10);
  EXPECT_TRUE(imported.entries.empty());
  EXPECT_NE(imported.problem.find(GetParam().problem), std::string::npos) << imported.problem;
}

INSTANTIATE_TEST_SUITE_P(
    Files, HostileImportTest,
    ::testing::Values(
        HostileFile{"Garbage",
                    [] {
                      return "\x7f"
                             "ELF\x02\x01\x01\0\0\0garbage\n\xff\xfe"s;
                    },
                    "no send list"},
        HostileFile{"Huge",
                    [] { return "[SendList]\nName1=x\n" + std::string(kMaxProfileFileSize, ';'); },
                    "larger than 8 MiB"},
        HostileFile{
            "BadHex",
            [] { return std::string("[SendList]\nName1=ok\nName2=x\nContent2=01 0G\nHex2=1\n"); },
            "Entry 2: The content is not hex"},
        HostileFile{"TooMany", [] { return ManyEntries(11); }, "more entries"},
        HostileFile{"HugeIndex",
                    [] { return std::string("[SendList]\nName99999999999999999999=x\n"); },
                    "more entries"},
        HostileFile{"UnknownCheck",
                    [] { return std::string("[SendList]\nName1=x\nChecksum1=md5\n"); }, "\"md5\""},
        HostileFile{"LongContent",
                    [] {
                      return "[SendList]\nName1=x\nContent1=" +
                             std::string(kMaxEntryContentLength + 1, 'a');
                    },
                    "1025 bytes"},
        HostileFile{"LongHex",
                    [] { return "[SendList]\nName1=x\nHex1=1\nContent1=" + HexText(1025); },
                    "1025 bytes"},
        HostileFile{"NegativeDelay",
                    [] { return std::string("[SendList]\nName1=x\nDelayMs1=-5\n"); }, "delay"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(SendListStoreTest, ImportsHexEntriesUpToTheByteLimit) {
  TempDir dir;
  auto file = dir / "import.ini";
  WriteFile(file, "[SendList]\nName1=x\nHex1=1\nContent1=" + HexText(kMaxEntryContentLength));
  SendListImport imported = ImportSendList(file, 10);
  EXPECT_EQ(imported.problem, "");
  ASSERT_EQ(imported.entries.size(), 1u);
  EXPECT_EQ(EntryBytes(imported.entries[0]).size(), kMaxEntryContentLength);
}

TEST(SendListStoreTest, MissingImportFileIsReported) {
  TempDir dir;
  EXPECT_NE(ImportSendList(dir / "none.ini", 10).problem, "");
}

}  // namespace
}  // namespace quorvel
