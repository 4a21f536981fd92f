// The profile reader and writer: what hand-edited files read as, what a write
// changes (and everything it leaves alone), and how files are replaced.
#include "settings/profile_file.h"
#include "support/temp_files.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <fstream>
#include <sstream>

namespace quorvel {
namespace {

namespace fs = std::filesystem;
using testing::Listing;
using testing::ReadAll;
using testing::TempDir;
using testing::WriteFile;
using namespace std::string_literals;

// Kills and reaps a child process however the test ends.
struct ChildGuard {
  pid_t pid;
  ~ChildGuard() {
    if (pid > 0) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, nullptr, 0);
    }
  }
};

// ---------------------------------------------------------------- reading

struct GetCase {
  const char* name;
  std::string text;
  const char* section;
  const char* key;
  std::optional<std::string> expected;
};

void PrintTo(const GetCase& c, std::ostream* out) {
  *out << c.name;
}

class ProfileGet : public ::testing::TestWithParam<GetCase> {};

TEST_P(ProfileGet, ReadsAsHandEditedFilesExpect) {
  const GetCase& c = GetParam();
  EXPECT_EQ(ProfileDocument(c.text).Get(c.section, c.key), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ProfileGet,
    ::testing::Values(
        GetCase{"NamesMatchWhateverTheirCase", "[comconfig]\nbrate=7\n", "COMConfig", "BRATE", "7"},
        GetCase{"SpacesAroundNamesAndValuesIgnored", "  [ A ]  \n\t k \t=  v w  \n", "A", "k",
                "v w"},
        GetCase{"CrLfEndings", "[A]\r\nk=v\r\n", "A", "k", "v"},
        GetCase{"SemicolonLineIsAComment", "[A]\n;k=1\n  ; k=2\n", "A", "k", std::nullopt},
        GetCase{"FirstSectionOfANameWins", "[A]\nk=1\n[B]\n[a]\nk=2\nj=3\n", "A", "j",
                std::nullopt},
        GetCase{"FirstKeyOfANameWins", "[A]\nk=1\nK=2\n", "A", "k", "1"},
        GetCase{"KeyOfAnotherSectionNotSeen", "[A]\n[B]\nk=1\n", "A", "k", std::nullopt},
        GetCase{"KeyBeforeAnySectionBelongsToNone", "k=1\n[A]\n", "A", "k", std::nullopt},
        GetCase{"MatchingQuotesStripped", "[A]\nk = \"a b \"\n", "A", "k", "a b "},
        GetCase{"SingleQuotesStripped", "[A]\nk='x'\n", "A", "k", "x"},
        GetCase{"UnmatchedQuoteKept", "[A]\nk=\"x\n", "A", "k", "\"x"},
        GetCase{"KeyLineWithoutEqualsIsEmpty", "[A]\nk\n", "A", "k", ""},
        GetCase{"EmptyValue", "[A]\nk=\n", "A", "k", ""},
        GetCase{"SecondEqualsBelongsToTheValue", "[A]\nk=a=b\n", "A", "k", "a=b"},
        GetCase{"TextAfterSectionBracketIgnored", "[A] ; first\nk=1\n", "A", "k", "1"},
        GetCase{"BracketWithoutCloseIsNoSection", "[A]\n[B\nk=1\n", "A", "k", "1"},
        GetCase{"Utf8MarkBeforeFirstSection", "\xEF\xBB\xBF[A]\nk=1\n", "A", "k", "1"},
        GetCase{"LastLineWithoutNewline", "[A]\nk=1", "A", "k", "1"},
        GetCase{"BinaryBytesAreOrdinaryCharacters", "[A]\n\x01\xff\x00=z\nk=\x80\x00y\n"s, "A", "k",
                "\x80\x00y"s},
        GetCase{"EmptyText", "", "A", "k", std::nullopt}),
    [](const auto& info) { return info.param.name; });

TEST(ProfileEntries, ListsFirstSectionKeysOnceInFileOrder) {
  ProfileDocument document("[P]\nb=1\n; c=0\na = \"2\"\nB=3\n[Q]\nd=4\n[p]\ne=5\n");
  using Entries = std::vector<std::pair<std::string, std::string>>;
  EXPECT_EQ(document.Entries("p"), (Entries{{"b", "1"}, {"a", "2"}}));
  EXPECT_EQ(document.Entries("none"), Entries{});
}

// ---------------------------------------------------------------- writing

struct SetCase {
  const char* name;
  std::string before;
  const char* section;
  const char* key;
  std::string value;
  std::string after;
};

void PrintTo(const SetCase& c, std::ostream* out) {
  *out << c.name;
}

class ProfileSet : public ::testing::TestWithParam<SetCase> {};

TEST_P(ProfileSet, ChangesOnlyWhatItMust) {
  const SetCase& c = GetParam();
  ProfileDocument document(c.before);
  ASSERT_TRUE(document.Set(c.section, c.key, c.value));
  EXPECT_EQ(document.Text(), c.after);
  EXPECT_EQ(document.Get(c.section, c.key), c.value);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ProfileSet,
    ::testing::Values(
        SetCase{"NewFileGetsSectionAndKey", "", "A", "k", "v", "[A]\nk=v\n"},
        SetCase{"ValueReplacedInPlaceKeepingNameAndSpacing", "[a]\n  K = old  ; c\nz=1\n", "A", "k",
                "new", "[a]\n  K = new\nz=1\n"},
        SetCase{"SameValueLeavesLineAlone", "[A]\nk = \"v\"  \n", "A", "k", "v",
                "[A]\nk = \"v\"  \n"},
        SetCase{"MissingKeyGoesAfterLastKeyOfItsSection", "[A]\nx=1\n\n; about B\n[B]\ny=2\n", "A",
                "k", "v", "[A]\nx=1\nk=v\n\n; about B\n[B]\ny=2\n"},
        SetCase{"EmptySectionGetsKeyAfterHeader", "[A]\n[B]\n", "A", "k", "v", "[A]\nk=v\n[B]\n"},
        SetCase{"MissingSectionAppendedAfterABlankLine", "; top\n[B]\ny=2\n", "A", "k", "v",
                "; top\n[B]\ny=2\n\n[A]\nk=v\n"},
        SetCase{"NoSecondBlankLineBeforeNewSection", "[B]\ny=2\n\n", "A", "k", "v",
                "[B]\ny=2\n\n[A]\nk=v\n"},
        SetCase{"LastLineWithoutNewlineGetsOne", "[A]\nx=1", "A", "k", "v", "[A]\nx=1\nk=v\n"},
        SetCase{"CrLfFileStaysCrLf", "[B]\r\ny=2\r\n", "A", "k", "v",
                "[B]\r\ny=2\r\n\r\n[A]\r\nk=v\r\n"},
        SetCase{"CrLfKeyInsertedWithCrLf", "[A]\r\nx=1\r\n[B]\r\n", "A", "k", "v",
                "[A]\r\nx=1\r\nk=v\r\n[B]\r\n"},
        SetCase{"KeyWithoutEqualsGetsValue", "[A]\n k \n", "A", "k", "v", "[A]\n k=v\n"},
        SetCase{"OnlyFirstOfRepeatedSectionsChanges", "[A]\nk=1\n[A]\nk=2\n", "A", "k", "9",
                "[A]\nk=9\n[A]\nk=2\n"},
        SetCase{"Utf8MarkKept", "\xEF\xBB\xBF[A]\nk=1\n", "A", "k", "2", "\xEF\xBB\xBF[A]\nk=2\n"},
        SetCase{"ValueWithOuterSpacesQuoted", "[A]\n", "A", "k", " v ", "[A]\nk=\" v \"\n"},
        SetCase{"ValueWithOuterQuotesQuotedAgain", "[A]\n", "A", "k", "'v'", "[A]\nk=\"'v'\"\n"},
        SetCase{"EmptyValue", "[A]\nk=1\n", "A", "k", "", "[A]\nk=\n"}),
    [](const auto& info) { return info.param.name; });

TEST(ProfileSet, RefusesWhatAFileCannotHoldAndChangesNothing) {
  const std::string text = "[A]\nk=1\n";
  struct Bad {
    const char* section;
    const char* key;
    const char* value;
  };
  for (Bad bad : {Bad{"A", "k", "two\nlines"}, Bad{"A", "k", "cr\r"}, Bad{"A", "a=b", "v"},
                  Bad{"A", "", "v"}, Bad{"A", " k", "v"}, Bad{"A", ";k", "v"}, Bad{"A", "[k", "v"},
                  Bad{"A]", "k", "v"}, Bad{"", "k", "v"}, Bad{"A\n", "k", "v"}}) {
    ProfileDocument document(text);
    EXPECT_FALSE(document.Set(bad.section, bad.key, bad.value)) << bad.key << bad.value;
    EXPECT_EQ(document.Text(), text);
  }
}

TEST(ProfileSetAll, WritesWhatOneSetAfterAnotherWould) {
  const std::vector<ProfileValue> values = {{"B", "y", "20"}, {"A", "k", "v"},  {"C", "c1", "1"},
                                            {"a", "K2", "w"}, {"C", "c2", "2"}, {"B", "new", " n"}};
  for (const std::string& before :
       {""s, "[A]\nx=1\n\n; about B\n[B]\ny=2\n"s, "[B]\r\ny=2\r\n[A]\r\n[A]\r\nk=0"s,
        "\xEF\xBB\xBF[a]\nK = old\n"s, "k=top\n[C]\nc2=x\n[c]\nc1=y"s, "[B]\ny\n[B]\ny=1\n"s}) {
    ProfileDocument batch(before), oneByOne(before);
    EXPECT_TRUE(batch.SetAll(values));
    for (const ProfileValue& v : values) oneByOne.Set(v.section, v.key, v.value);
    EXPECT_EQ(batch.Text(), oneByOne.Text()) << before;
    for (const ProfileValue& v : values) EXPECT_EQ(batch.Get(v.section, v.key), v.value);
  }
}

TEST(ProfileSetAll, SkipsWhatAFileCannotHoldAndWritesTheRest) {
  ProfileDocument document("[A]\nk=1\n");
  EXPECT_FALSE(document.SetAll({{"A", "k", "bad\nvalue"}, {"A", "j", "2"}, {"A", "a=b", "3"}}));
  EXPECT_EQ(document.Text(), "[A]\nk=1\nj=2\n");
}

TEST(ProfileSetAll, LastValueOfARepeatedKeyWins) {
  ProfileDocument document("");
  EXPECT_TRUE(document.SetAll({{"A", "k", "1"}, {"A", "j", "2"}, {"a", "K", "3"}}));
  EXPECT_EQ(document.Text(), "[A]\nk=3\nj=2\n");
}

TEST(ProfileDocument, UneditedTextComesBackByteForByte) {
  const std::string text = "\xEF\xBB\xBF; x\r\n[A]\n k = 1 \r\n\r\n\n[B\x00]\r\r\nz"s;
  EXPECT_EQ(ProfileDocument(text).Text(), text);
}

// ---------------------------------------------------------------- integers

struct IntegerCase {
  const char* name;
  std::optional<std::string> value;
  int32_t expected;
};

void PrintTo(const IntegerCase& c, std::ostream* out) {
  *out << c.name;
}

class ProfileIntegerRule : public ::testing::TestWithParam<IntegerCase> {};

TEST_P(ProfileIntegerRule, ReadsDigitsUpToFirstOtherCharacter) {
  EXPECT_EQ(ProfileInteger(GetParam().value, 80), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ProfileIntegerRule,
    ::testing::Values(
        IntegerCase{"MissingGivesDefault", std::nullopt, 80},
        IntegerCase{"EmptyGivesDefault", "", 80}, IntegerCase{"SpacesOnlyGivesDefault", "  ", 80},
        IntegerCase{"Plain", "42", 42}, IntegerCase{"MinusOne", "-1", -1},
        IntegerCase{"PlusSign", "+7", 7}, IntegerCase{"LeadingSpaces", "  9", 9},
        IntegerCase{"StopsAtOtherCharacter", "12abc", 12}, IntegerCase{"StopsAtSpace", "1 2", 1},
        IntegerCase{"NoDigitsGivesZero", "abc", 0}, IntegerCase{"SignAloneGivesZero", "-", 0},
        IntegerCase{"HexPrefixIsNotHex", "0x10", 0},
        IntegerCase{"LargestInt", "2147483647", 2147483647},
        IntegerCase{"SmallestInt", "-2147483648", INT32_MIN},
        IntegerCase{"WrapsPast32Bits", "4294967295", -1},
        IntegerCase{"WrapsToZero", "4294967296", 0},
        IntegerCase{"TwentyNines", "99999999999999999999", 1661992959}),
    [](const auto& info) { return info.param.name; });

// Made here rather than in the table, so that the megabytes are built only
// by the process that runs this case.
TEST(ProfileIntegerRuleLong, AMillionDigitsWrapAsShortNumbersDo) {
  const std::string digits(1000000, '7');
  EXPECT_EQ(ProfileInteger(digits, 80), 1908874353);
  EXPECT_EQ(ProfileInteger("-" + digits, 80), -1908874353);
}

// ---------------------------------------------------------------- files

TEST(ProfileFile, ReadStatusTellsMissingFromUnusable) {
  TempDir dir;
  std::string text = "left over";
  EXPECT_EQ(ReadProfileFile(dir / "none", text), ProfileFileStatus::kMissing);
  EXPECT_EQ(text, "");

  WriteFile(dir / "plain", "[A]\nk=1\n");
  EXPECT_EQ(ReadProfileFile(dir / "plain", text), ProfileFileStatus::kRead);
  EXPECT_EQ(text, "[A]\nk=1\n");

  fs::create_directory(dir / "directory");
  EXPECT_EQ(ReadProfileFile(dir / "directory", text), ProfileFileStatus::kUnusable);

  // A FIFO would block a plain open until a writer came.
  ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
  EXPECT_EQ(ReadProfileFile(dir / "fifo", text), ProfileFileStatus::kUnusable);

  fs::create_symlink("/dev/zero", dir / "endless");
  EXPECT_EQ(ReadProfileFile(dir / "endless", text), ProfileFileStatus::kUnusable);

  fs::create_symlink(dir / "nowhere", dir / "dangling");
  EXPECT_EQ(ReadProfileFile(dir / "dangling", text), ProfileFileStatus::kMissing);

  // 100 MB, sparse so that the test costs no disk: not read at all.
  { std::ofstream(dir / "huge") << ""; }
  fs::resize_file(dir / "huge", 100u * 1024 * 1024);
  EXPECT_EQ(ReadProfileFile(dir / "huge", text), ProfileFileStatus::kTooLarge);
  EXPECT_EQ(text, "");

  WriteFile(dir / "limit", std::string(kMaxProfileFileSize, 'x'));
  EXPECT_EQ(ReadProfileFile(dir / "limit", text), ProfileFileStatus::kRead);
  EXPECT_EQ(text.size(), kMaxProfileFileSize);

  // Each line costs a document far more than its byte: their number is bounded too.
  WriteFile(dir / "lines", std::string(kMaxProfileLines, '\n'));
  EXPECT_EQ(ReadProfileFile(dir / "lines", text), ProfileFileStatus::kRead);
  WriteFile(dir / "lines", std::string(kMaxProfileLines + 1, '\n'));
  EXPECT_EQ(ReadProfileFile(dir / "lines", text), ProfileFileStatus::kTooLarge);
  EXPECT_EQ(text, "");
}

TEST(ProfileFile, OneKeyWriteKeepsTheRestOfTheFile) {
  TempDir dir;
  const fs::path file = dir / "Quorvel.ini";
  WriteFile(file, "[COMConfig]\r\nCOM=3\r\n[PortMap]\r\nCOM1=/dev/ttyUSB0\r\n");
  ASSERT_TRUE(WriteProfileString(file, "PortMap", "COM5", "/dev/pts/7"));
  EXPECT_EQ(ReadAll(file),
            "[COMConfig]\r\nCOM=3\r\n[PortMap]\r\nCOM1=/dev/ttyUSB0\r\nCOM5=/dev/pts/7\r\n");
  EXPECT_EQ(ReadProfileString(file, "portmap", "com5"), "/dev/pts/7");
  EXPECT_EQ(ReadProfileInt(file, "COMConfig", "COM", 0), 3);
  EXPECT_EQ(ReadProfileInt(file, "COMConfig", "BRATE", 6), 6);
  EXPECT_EQ(Listing(dir.path()), std::vector<std::string>{"Quorvel.ini"});
}

TEST(ProfileFile, ReplacementKeepsModeAndFollowsLinks) {
  TempDir dir;
  fs::create_directory(dir / "real");
  const fs::path target = dir / "real" / "Quorvel.ini";
  WriteFile(target, "[A]\nk=1\n");
  ::chmod(target.c_str(), 0640);
  fs::create_symlink("real/Quorvel.ini", dir / "Quorvel.ini");

  ASSERT_TRUE(WriteProfileString(dir / "Quorvel.ini", "A", "k", "2"));
  EXPECT_TRUE(fs::is_symlink(dir / "Quorvel.ini"));
  EXPECT_EQ(ReadAll(target), "[A]\nk=2\n");
  EXPECT_EQ(fs::status(target).permissions() & fs::perms::mask, fs::perms(0640));
  EXPECT_EQ(Listing(dir / "real"), std::vector<std::string>{"Quorvel.ini"});

  // Through a dangling link the linked file is created, and the link stays.
  fs::create_symlink("real/new.ini", dir / "dangling.ini");
  ASSERT_TRUE(WriteProfileString(dir / "dangling.ini", "A", "k", "3"));
  EXPECT_TRUE(fs::is_symlink(dir / "dangling.ini"));
  EXPECT_EQ(ReadAll(dir / "real" / "new.ini"), "[A]\nk=3\n");

  fs::create_symlink("loop", dir / "loop");
  EXPECT_FALSE(WriteProfileString(dir / "loop", "A", "k", "4"));
  EXPECT_TRUE(fs::is_symlink(dir / "loop"));
}

TEST(ProfileFile, UnchangedTextIsNotRewritten) {
  TempDir dir;
  const fs::path file = dir / "Quorvel.ini";
  WriteFile(file, "[A]\nk = 1\n");
  struct stat before, after;
  ::stat(file.c_str(), &before);
  ASSERT_TRUE(WriteProfileString(file, "a", "K", "1"));
  ::stat(file.c_str(), &after);
  EXPECT_EQ(before.st_ino, after.st_ino);
}

// A disk that fills up halfway through the new file: the file-size limit
// makes the temporary file's write fail partway, as ENOSPC would.
TEST(ProfileFile, WriteThatRunsOutOfSpaceLeavesOldFileAndNoLeftovers) {
  TempDir dir;
  const fs::path file = dir / "Quorvel.ini";
  const std::string old = "[A]\nk=1\n";
  WriteFile(file, old);

  rlimit saved;
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
  auto oldHandler = ::signal(SIGXFSZ, SIG_IGN);
  rlimit small = saved;
  small.rlim_cur = 64;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  bool written = WriteProfileString(file, "A", "k", std::string(200, 'v'));
  ::setrlimit(RLIMIT_FSIZE, &saved);
  ::signal(SIGXFSZ, oldHandler);

  EXPECT_FALSE(written);
  EXPECT_EQ(ReadAll(file), old);
  EXPECT_EQ(Listing(dir.path()), std::vector<std::string>{"Quorvel.ini"});
}

// A writer killed at arbitrary moments, and a reader racing it: every read and
// what is left after each kill is one whole version of the file.
TEST(ProfileFile, InterruptedWritesNeverLeaveAPartialFile) {
  TempDir dir;
  const fs::path file = dir / "Quorvel.ini";
  const std::string shortValue = "s";
  const std::string longValue(20000, 'L');
  auto versionOf = [&](const std::string& value) {
    ProfileDocument document("; head\n[A]\nk=1\n");
    document.Set("A", "v", value);
    return document.Text();
  };
  const std::string shortText = versionOf(shortValue), longText = versionOf(longValue);
  WriteFile(file, shortText);

  for (int round = 0; round < 5; ++round) {
    pid_t writer = ::fork();
    ASSERT_GE(writer, 0);
    if (writer == 0) {
      for (unsigned i = 0;; ++i) WriteProfileString(file, "A", "v", i % 2 ? longValue : shortValue);
    }
    ChildGuard guard{writer};
    // Let the writer replace the file a number of times, reading all along.
    ino_t lastInode = 0;
    int replacements = 0;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (replacements < 20 + round * 7 && std::chrono::steady_clock::now() < deadline) {
      std::string text;
      ASSERT_EQ(ReadProfileFile(file, text), ProfileFileStatus::kRead);
      ASSERT_TRUE(text == shortText || text == longText) << "partial read of " << text.size();
      struct stat info;
      if (::stat(file.c_str(), &info) == 0 && info.st_ino != lastInode) {
        lastInode = info.st_ino;
        ++replacements;
      }
    }
    EXPECT_GE(replacements, 20) << "the writer did not get going";
    ::kill(writer, SIGKILL);
    ::waitpid(writer, nullptr, 0);
    guard.pid = 0;
    std::string text = ReadAll(file);
    EXPECT_TRUE(text == shortText || text == longText) << "partial file of " << text.size();
  }
}

}  // namespace
}  // namespace quorvel
