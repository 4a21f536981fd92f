// Quorvel.ini as the terminal reads it at start and writes it at close: the
// keys and defaults, hand-edited files, bad files, and saves that must fail
// without harm. Every test works in its own temporary directory.
#include "settings/settings.h"

#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <fstream>
#include <functional>
#include <sstream>

#include "sending/hex.h"
#include "settings/profile_file.h"
#include "settings/settings_file_choice.h"
#include "support/temp_files.h"

namespace quorvel {
namespace {

namespace fs = std::filesystem;
using testing::Listing;
using testing::ReadAll;
using testing::TempDir;
using testing::WriteFile;
using namespace std::string_literals;

// Changes the working directory for one test and restores it afterwards,
// whatever the length of either path.
class WorkingDirectory {
 public:
  explicit WorkingDirectory(const fs::path& directory)
      : previous_(::open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {
    EXPECT_EQ(::chdir(directory.c_str()), 0);
  }
  ~WorkingDirectory() {
    if (previous_ >= 0 && ::fchdir(previous_) != 0) ADD_FAILURE() << "cannot return";
    if (previous_ >= 0) ::close(previous_);
  }

 private:
  int previous_;
};

// Root writes anywhere whatever the permission bits say, so when the tests
// run as root the body runs in a child process that has become "nobody".
// Returns the body's result, or nullopt when no unprivileged process can be had.
std::optional<bool> RunUnprivileged(const std::function<bool()>& body) {
  if (::geteuid() != 0) return body();
  pid_t child = ::fork();
  if (child < 0) return std::nullopt;
  if (child == 0) {
    constexpr uid_t kNobody = 65534;
    if (::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0) {
      ::_exit(2);
    }
    ::_exit(body() ? 0 : 1);
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) == 2) return std::nullopt;
  return WEXITSTATUS(status) == 0;
}

void ExpectDefaults(const Settings& s) {
  EXPECT_EQ(s.selection.portPos, 0);
  EXPECT_EQ(s.selection.baudPos, 6);
  EXPECT_EQ(s.selection.dataBitsPos, 3);
  EXPECT_EQ(s.selection.stopBitsPos, 0);
  EXPECT_EQ(s.selection.parityPos, 2);
  EXPECT_EQ(s.selection.flowPos, 0);
  EXPECT_EQ(s.hexDisplay, 0);
  EXPECT_EQ(s.sendAsHex, 0);
  EXPECT_EQ(s.timerIntervalMs, 80);
  EXPECT_EQ(s.frameEndText, "00");
  EXPECT_EQ(s.frameEndByte, 0);
  EXPECT_TRUE(s.portMap.empty());
}

const std::string kDefaultFile =
    "[COMConfig]\nCOM=0\nBRATE=6\nBYTESIZE=3\nSTOPBITS=0\nPARITY=2\nFLOWCONTROL=0\n"
    "\n[RecvConfig]\nRECVHEX=0\n"
    "\n[SendConfig]\nSENDHEX=0\nTIMEGAP=80\nFRAMEEND=00\n";

TEST(SettingsFile, WithoutAFileStartsFromDefaultsAndSavesTheTenKeys) {
  TempDir dir;
  WorkingDirectory cwd(dir.path());
  Settings loaded = LoadSettings();
  ExpectDefaults(loaded);
  ExpectDefaults(Settings{});
  SaveSettings(loaded);
  EXPECT_EQ(ReadAll(dir / "Quorvel.ini"), kDefaultFile);
  ExpectDefaults(LoadSettings());
  EXPECT_EQ(Listing(dir.path()), std::vector<std::string>{"Quorvel.ini"});
}

TEST(SettingsFile, EveryValueSurvivesARestart) {
  TempDir dir;
  Settings s;
  s.selection = {4, 15, 0, 2, 4, 2};
  s.hexDisplay = 1;
  s.sendAsHex = 1;
  s.timerIntervalMs = 65536;
  s.frameEndText = "7e";
  s.frameEndByte = 0x7e;
  ASSERT_TRUE(SaveSettings(s, dir.path()));
  Settings r = LoadSettings(dir.path());
  EXPECT_EQ(r.selection.portPos, 4);
  EXPECT_EQ(r.selection.baudPos, 15);
  EXPECT_EQ(r.selection.dataBitsPos, 0);
  EXPECT_EQ(r.selection.stopBitsPos, 2);
  EXPECT_EQ(r.selection.parityPos, 4);
  EXPECT_EQ(r.selection.flowPos, 2);
  EXPECT_EQ(r.hexDisplay, 1);
  EXPECT_EQ(r.sendAsHex, 1);
  EXPECT_EQ(r.timerIntervalMs, 65536);
  EXPECT_EQ(r.frameEndText, "7e");
  EXPECT_EQ(r.frameEndByte, 0x7e);
}

TEST(SettingsFile, ATypedRateKeepsASectionOfItsOwnAndWinsOverBrate) {
  TempDir dir;
  const fs::path file = dir / "Quorvel.ini";
  Settings s;
  s.selection = {0, -1, 3, 0, 0, 0, 250000};
  ASSERT_TRUE(SaveSettings(s, dir.path()));
  std::string text = ReadAll(file);
  EXPECT_NE(text.find("[TypedRate]\nRATE=250000\n"), std::string::npos) << text;
  EXPECT_NE(text.find("BRATE=-1\n"), std::string::npos) << text;
  Settings r = LoadSettings(dir.path());
  EXPECT_EQ(r.selection.typedBaud, 250000u);
  EXPECT_EQ(ReadLineSelections(r.selection).baudRate, 250000u);

  // A listed rate again: the typed one is gone, BRATE counts.
  s.selection = {0, 20, 3, 0, 0, 0, 0};
  ASSERT_TRUE(SaveSettings(s, dir.path()));
  r = LoadSettings(dir.path());
  EXPECT_EQ(r.selection.typedBaud, 0u);
  EXPECT_EQ(ReadLineSelections(r.selection).baudRate, 921600u);

  // Written by hand beside an old BRATE, it wins; what is no rate is none.
  for (auto [value, want] :
       std::initializer_list<std::pair<const char*, uint32_t>>{{"74880", 74880u},
                                                               {"4294967295", 4294967295u},
                                                               {"0", 0u},
                                                               {"-5", 0u},
                                                               {"", 0u},
                                                               {"fast", 0u},
                                                               {"4294967296", 0u}}) {
    WriteFile(file, std::string("[COMConfig]\nBRATE=7\n[TypedRate]\nRATE=") + value + "\n");
    r = LoadSettings(dir.path());
    EXPECT_EQ(r.selection.typedBaud, want) << value;
    EXPECT_EQ(r.selection.baudPos, 7);
    EXPECT_EQ(ReadLineSelections(r.selection).baudRate, want != 0 ? want : 9600u) << value;
  }
}

TEST(SettingsFile, WithoutATypedRateNoSectionIsWritten) {
  TempDir dir;
  ASSERT_TRUE(SaveSettings(Settings{}, dir.path()));
  EXPECT_EQ(ReadAll(dir / "Quorvel.ini").find("TypedRate"), std::string::npos);
}

TEST(SettingsFile, LinesAtOpenKeepASectionOfTheirOwnOnceNotTheDefault) {
  TempDir dir;
  const fs::path file = dir / "Quorvel.ini";
  struct {
    LinesAtOpen lines;
    const char* dtr;
    const char* rts;
  } const steps[] = {
      {{true, true}, nullptr, nullptr},  // the kernel's own behaviour: nothing written
      {{false, true}, "0", "1"},
      {{true, false}, "1", "0"},
      {{true, true}, "1", "1"},  // once there, the section stays up to date
  };
  for (const auto& step : steps) {
    Settings s;
    s.linesAtOpen = step.lines;
    ASSERT_TRUE(SaveSettings(s, dir.path()));
    EXPECT_EQ(ReadProfileString(file, "LinesAtOpen", "DTR"),
              step.dtr ? std::optional<std::string>(step.dtr) : std::nullopt);
    EXPECT_EQ(ReadProfileString(file, "LinesAtOpen", "RTS"),
              step.rts ? std::optional<std::string>(step.rts) : std::nullopt);
    EXPECT_EQ(LoadSettings(dir.path()).linesAtOpen, step.lines);
    EXPECT_EQ(ReadProfileString(file, "COMConfig", "FLOWCONTROL"), "0");
  }
}

TEST(SettingsFile, EmptySelectorsSaveAsMinusOneAndReloadAsMinusOne) {
  TempDir dir;
  Settings s;
  s.selection = {-1, -1, -1, -1, -1, -1};
  s.timerIntervalMs = -5;
  ASSERT_TRUE(SaveSettings(s, dir.path()));
  EXPECT_EQ(ReadProfileString(dir / "Quorvel.ini", "COMConfig", "BRATE"), "-1");
  Settings r = LoadSettings(dir.path());
  EXPECT_EQ(r.selection.portPos, -1);
  EXPECT_EQ(r.selection.flowPos, -1);
  EXPECT_EQ(r.timerIntervalMs, -5);
}

TEST(SettingsFile, PositionBeyondItsListReloadsAsIs) {
  TempDir dir;
  WriteFile(dir / "Quorvel.ini", "[COMConfig]\nBRATE=99\n");
  EXPECT_EQ(LoadSettings(dir.path()).selection.baudPos, 99);
}

TEST(SettingsFile, FlagsSaveAsOneOrZero) {
  TempDir dir;
  WriteFile(dir / "Quorvel.ini", "[RecvConfig]\nRECVHEX=5\n[SendConfig]\nSENDHEX=-3\n");
  Settings s = LoadSettings(dir.path());
  EXPECT_NE(s.hexDisplay, 0);
  EXPECT_NE(s.sendAsHex, 0);
  ASSERT_TRUE(SaveSettings(s, dir.path()));
  EXPECT_EQ(ReadProfileString(dir / "Quorvel.ini", "RecvConfig", "RECVHEX"), "1");
  EXPECT_EQ(ReadProfileString(dir / "Quorvel.ini", "SendConfig", "SENDHEX"), "1");
}

// The frame end is saved as the byte the terminal used, whatever was typed.
struct FrameEndCase {
  const char* name;
  const char* typed;
  const char* saved;
  uint8_t byte;
};

void PrintTo(const FrameEndCase& c, std::ostream* out) {
  *out << c.name;
}

class FrameEnd : public ::testing::TestWithParam<FrameEndCase> {};

TEST_P(FrameEnd, SavedAsTheByteAndReloadedAsItsDigits) {
  const FrameEndCase& c = GetParam();
  TempDir dir;
  Settings s;
  s.frameEndText = c.typed;
  s.frameEndByte = FrameEndByteOf(c.typed);
  ASSERT_TRUE(SaveSettings(s, dir.path()));
  EXPECT_EQ(ReadProfileString(dir / "Quorvel.ini", "SendConfig", "FRAMEEND"), c.saved);
  Settings r = LoadSettings(dir.path());
  EXPECT_EQ(r.frameEndText, c.saved);
  EXPECT_EQ(r.frameEndByte, c.byte);
}

INSTANTIATE_TEST_SUITE_P(Cases, FrameEnd,
                         ::testing::Values(FrameEndCase{"UpperSingleDigit", "D", "0d", 0x0d},
                                           FrameEndCase{"NoHexDigits", "zz", "53", 0x53},
                                           FrameEndCase{"Empty", "", "00", 0},
                                           FrameEndCase{"UpperPair", "FF", "ff", 0xff},
                                           FrameEndCase{"LowerPair", "7e", "7e", 0x7e}),
                         [](const auto& info) { return info.param.name; });

// What odd files read as: defaults or the integer rule, and never a crash.
struct OddFileCase {
  const char* name;
  std::string (*text)();  // made when the case runs, not when it is registered
  int32_t timer;
  const char* frameEnd;
  int32_t baud;
};

void PrintTo(const OddFileCase& c, std::ostream* out) {
  *out << c.name;
}

class OddFile : public ::testing::TestWithParam<OddFileCase> {};

TEST_P(OddFile, LoadsAsTheRulesSay) {
  const OddFileCase& c = GetParam();
  TempDir dir;
  WriteFile(dir / "Quorvel.ini", c.text());
  Settings s = LoadSettings(dir.path());
  EXPECT_EQ(s.timerIntervalMs, c.timer);
  EXPECT_EQ(s.frameEndText, c.frameEnd);
  EXPECT_EQ(s.frameEndByte, FrameEndByteOf(c.frameEnd));
  EXPECT_EQ(s.selection.baudPos, c.baud);
}

std::string AllBytes(int repeats) {
  std::string text;
  for (int r = 0; r < repeats; ++r) {
    for (int b = 0; b < 256; ++b) text += static_cast<char>(b);
  }
  return text;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, OddFile,
    ::testing::Values(
        OddFileCase{"Empty", [] { return std::string(""); }, 80, "00", 6},
        OddFileCase{"BinaryBytes", [] { return AllBytes(64); }, 80, "00", 6},
        OddFileCase{
            "BinaryValues",
            [] { return std::string("[SendConfig]\nTIMEGAP=\x01\x7f\nFRAMEEND=\xff\xfe\xfd\n"); },
            0, "\xff\xfe", 6},
        OddFileCase{"NulInsideValue", [] { return "[SendConfig]\nTIMEGAP=12\x00 34\n"s; }, 12, "00",
                    6},
        OddFileCase{"VeryLongLineBeforeTheKeys",
                    [] { return std::string(900000, 'x') + "\n[SendConfig]\nTIMEGAP=7\n"; }, 7,
                    "00", 6},
        OddFileCase{"VeryLongKeyAndSectionNames",
                    [] {
                      return "[" + std::string(100000, 'S') + "]\n" + std::string(100000, 'K') +
                             "=1\n[SendConfig]\nTIMEGAP=9\n";
                    },
                    9, "00", 6},
        OddFileCase{"MillionDigitValue",
                    [] { return "[SendConfig]\nTIMEGAP=" + std::string(1000000, '7') + "\n"; },
                    1908874353, "00", 6},
        OddFileCase{"LongFrameEndKeepsTwoCharacters",
                    [] { return "[SendConfig]\nFRAMEEND=0a0d" + std::string(50000, 'f') + "\n"; },
                    80, "0a", 6},
        OddFileCase{"EmptyFrameEnd", [] { return std::string("[SendConfig]\nFRAMEEND=\n"); }, 80,
                    "", 6},
        OddFileCase{"EmptyValuesGiveDefaults",
                    [] { return std::string("[COMConfig]\nBRATE=\n[SendConfig]\nTIMEGAP=  \n"); },
                    80, "00", 6},
        OddFileCase{
            "NotANumber",
            [] { return std::string("[COMConfig]\nBRATE=fast\n[SendConfig]\nTIMEGAP=-x\n"); }, 0,
            "00", 0},
        OddFileCase{
            "QuotedValues",
            [] { return std::string("[COMConfig]\nBRATE=\"11\"\n[SendConfig]\nFRAMEEND='0d'\n"); },
            80, "0d", 11},
        OddFileCase{"OldMacLineEndsHideTheKeys",
                    [] { return std::string("[SendConfig]\rTIMEGAP=5\r"); }, 80, "00", 6}),
    [](const auto& info) { return info.param.name; });

TEST(SettingsFile, HandEditedFileLoadsAndSaveChangesOnlyOurValues) {
  TempDir dir;
  WriteFile(dir / "Quorvel.ini",
            "; Quorvel settings, kept by hand\r\n"
            "[Lab]\r\n"
            "bench = 3\r\n"
            "\r\n"
            "[ comconfig ]\r\n"
            "  com = 2\r\n"
            "Brate=9   ; 9600\r\n"
            "ByteSize =3\r\n"
            "stopbits= 1\r\n"
            "PARITY=0\r\n"
            "; flow control left out on purpose\r\n"
            "\r\n"
            "[RecvConfig]\r\n"
            "RECVHEX = 1\r\n"
            "[SendConfig]\r\n"
            "SendHex=0\r\n"
            "TimeGap = \"250\"\r\n"
            "FrameEnd = 0A\r\n"
            "[COMConfig]\r\n"
            "COM=7\r\n");
  Settings s = LoadSettings(dir.path());
  EXPECT_EQ(s.selection.portPos, 2);
  EXPECT_EQ(s.selection.baudPos, 9);
  EXPECT_EQ(s.selection.dataBitsPos, 3);
  EXPECT_EQ(s.selection.stopBitsPos, 1);
  EXPECT_EQ(s.selection.parityPos, 0);
  EXPECT_EQ(s.selection.flowPos, 0);
  EXPECT_EQ(s.hexDisplay, 1);
  EXPECT_EQ(s.sendAsHex, 0);
  EXPECT_EQ(s.timerIntervalMs, 250);
  EXPECT_EQ(s.frameEndText, "0A");
  EXPECT_EQ(s.frameEndByte, 10);

  s.selection.baudPos = 11;
  s.selection.flowPos = 2;
  s.sendAsHex = 1;
  ASSERT_TRUE(SaveSettings(s, dir.path()));
  EXPECT_EQ(ReadAll(dir / "Quorvel.ini"),
            "; Quorvel settings, kept by hand\r\n"
            "[Lab]\r\n"
            "bench = 3\r\n"
            "\r\n"
            "[ comconfig ]\r\n"
            "  com = 2\r\n"
            "Brate=11\r\n"
            "ByteSize =3\r\n"
            "stopbits= 1\r\n"
            "PARITY=0\r\n"
            "FLOWCONTROL=2\r\n"
            "; flow control left out on purpose\r\n"
            "\r\n"
            "[RecvConfig]\r\n"
            "RECVHEX = 1\r\n"
            "[SendConfig]\r\n"
            "SendHex=1\r\n"
            "TimeGap = \"250\"\r\n"
            "FrameEnd = 0a\r\n"
            "[COMConfig]\r\n"
            "COM=7\r\n");
}

TEST(SettingsFile, MissingKeysAndSectionsAreAddedWhereTheyBelong) {
  TempDir dir;
  WriteFile(dir / "Quorvel.ini", "[SendConfig]\nTIMEGAP=5");
  ASSERT_TRUE(SaveSettings(Settings{}, dir.path()));
  EXPECT_EQ(ReadAll(dir / "Quorvel.ini"),
            "[SendConfig]\nTIMEGAP=80\nSENDHEX=0\nFRAMEEND=00\n"
            "\n[COMConfig]\nCOM=0\nBRATE=6\nBYTESIZE=3\nSTOPBITS=0\nPARITY=2\nFLOWCONTROL=0\n"
            "\n[RecvConfig]\nRECVHEX=0\n");
}

TEST(SettingsFile, FollowsTheWorkingDirectoryOfEachCall) {
  TempDir first, second;
  Settings s;
  s.timerIntervalMs = 1234;
  {
    WorkingDirectory cwd(first.path());
    SaveSettings(s);
  }
  {
    WorkingDirectory cwd(second.path());
    ExpectDefaults(LoadSettings());
    SaveSettings(Settings{});
  }
  EXPECT_EQ(LoadSettings(first.path()).timerIntervalMs, 1234);
  EXPECT_EQ(ReadAll(second / "Quorvel.ini"), kDefaultFile);
}

// The file is named relative to the working directory, so a directory whose
// absolute path is longer than any path buffer works too.
TEST(SettingsFile, WorksInADirectoryDeeperThanAnyPathBuffer) {
  TempDir dir;
  WorkingDirectory cwd(dir.path());
  const std::string level(200, 'd');
  int depth = 0;
  for (; depth * (level.size() + 1) <= PATH_MAX + 400; ++depth) {
    ASSERT_EQ(::mkdir(level.c_str(), 0700), 0);
    ASSERT_EQ(::chdir(level.c_str()), 0);
  }
  Settings s;
  s.timerIntervalMs = 777;
  SaveSettings(s);
  EXPECT_EQ(LoadSettings().timerIntervalMs, 777);
  EXPECT_EQ(ReadProfileInt("Quorvel.ini", "SendConfig", "TIMEGAP", 0), 777);

  // remove_all cannot name files this deep; take the tree down from inside.
  ::unlink("Quorvel.ini");
  for (; depth > 0; --depth) {
    ASSERT_EQ(::chdir(".."), 0);
    ASSERT_EQ(::rmdir(level.c_str()), 0);
  }
}

TEST(SettingsFile, UnusableNamesLoadAsDefaults) {
  TempDir dir;
  fs::create_directory(dir / "Quorvel.ini");
  ExpectDefaults(LoadSettings(dir.path()));
  TempDir other;
  fs::create_symlink(other / "gone.ini", other / "Quorvel.ini");
  ExpectDefaults(LoadSettings(other.path()));
  ExpectDefaults(LoadSettings(dir / "no such directory"));
}

// Saves that cannot or must not happen: the old file stays exactly as it was
// (same inode, bytes and time), and nothing else appears in the directory.
struct RefusedSaveCase {
  const char* name;
  std::function<void(const fs::path& dir)> arrange;
  bool unprivileged;  // needs a user that permission bits apply to
};

void PrintTo(const RefusedSaveCase& c, std::ostream* out) {
  *out << c.name;
}

class RefusedSave : public ::testing::TestWithParam<RefusedSaveCase> {};

TEST_P(RefusedSave, LeavesTheOldFileAsItWas) {
  const RefusedSaveCase& c = GetParam();
  TempDir dir;
  WriteFile(dir / "Quorvel.ini", "; mine\n[SendConfig]\nTIMEGAP=42\n");
  c.arrange(dir.path());
  struct stat before;
  ASSERT_EQ(::lstat((dir / "Quorvel.ini").c_str(), &before), 0);
  const std::vector<std::string> listing = Listing(dir.path());

  Settings s;
  s.timerIntervalMs = 9999;
  std::function<bool()> save = [&] { return SaveSettings(s, dir.path()); };
  std::optional<bool> saved = c.unprivileged ? RunUnprivileged(save) : save();
  if (!saved) GTEST_SKIP() << "no unprivileged user to run as";
  EXPECT_FALSE(*saved);

  struct stat after;
  ASSERT_EQ(::lstat((dir / "Quorvel.ini").c_str(), &after), 0);
  EXPECT_EQ(after.st_ino, before.st_ino);
  EXPECT_EQ(after.st_size, before.st_size);
  EXPECT_EQ(after.st_mtim.tv_sec, before.st_mtim.tv_sec);
  EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
  EXPECT_EQ(Listing(dir.path()), listing);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RefusedSave,
    ::testing::Values(RefusedSaveCase{"ReadOnlyDirectory",
                                      [](const fs::path& dir) {
                                        ::chmod((dir / "Quorvel.ini").c_str(), 0666);
                                        ::chmod(dir.c_str(), 0555);
                                      },
                                      true},
                      RefusedSaveCase{"ReadOnlyFile",
                                      [](const fs::path& dir) {
                                        ::chmod((dir / "Quorvel.ini").c_str(), 0444);
                                        ::chmod(dir.c_str(), 0777);
                                      },
                                      true},
                      RefusedSaveCase{"UnreadableFile",
                                      [](const fs::path& dir) {
                                        ::chmod((dir / "Quorvel.ini").c_str(), 0);
                                        ::chmod(dir.c_str(), 0777);
                                      },
                                      true},
                      RefusedSaveCase{"FileTooLargeToBeOurs",
                                      [](const fs::path& dir) {
                                        fs::resize_file(dir / "Quorvel.ini", 100u * 1024 * 1024);
                                      },
                                      false},
                      RefusedSaveCase{"FileOfTooManyLines",
                                      [](const fs::path& dir) {
                                        WriteFile(dir / "Quorvel.ini",
                                                  std::string(kMaxProfileLines + 1, '\n'));
                                      },
                                      false},
                      RefusedSaveCase{"DirectoryNamedLikeTheFile",
                                      [](const fs::path& dir) {
                                        fs::remove(dir / "Quorvel.ini");
                                        fs::create_directory(dir / "Quorvel.ini");
                                        WriteFile(dir / "Quorvel.ini" / "keep", "x");
                                      },
                                      false},
                      RefusedSaveCase{"FifoNamedLikeTheFile",
                                      [](const fs::path& dir) {
                                        fs::remove(dir / "Quorvel.ini");
                                        ::mkfifo((dir / "Quorvel.ini").c_str(), 0666);
                                      },
                                      false}),
    [](const auto& info) { return info.param.name; });

struct FileChoiceCase {
  const char* name;
  std::function<void(const fs::path& file)> arrange;
  bool beside;          // the session uses <file>.new
  const char* problem;  // a part of the sentence; "" for none
};

void PrintTo(const FileChoiceCase& c, std::ostream* out) {
  *out << c.name;
}

class SettingsFileChoiceTest : public ::testing::TestWithParam<FileChoiceCase> {};

// A settings file that cannot be used is named with the reason, and the
// session's settings go beside it.
TEST_P(SettingsFileChoiceTest, UsesTheNamedFileOrSaysWhyNot) {
  TempDir dir;
  const fs::path file = dir / "Quorvel.ini";
  GetParam().arrange(file);
  SettingsFileChoice choice = ChooseSettingsFile(file);
  EXPECT_EQ(choice.file, GetParam().beside ? dir / "Quorvel.ini.new" : file);
  if (*GetParam().problem == '\0') {
    EXPECT_EQ(choice.problem, "");
  } else {
    EXPECT_NE(choice.problem.find(file.string() + GetParam().problem), std::string::npos)
        << choice.problem;
  }
}

void Sparse(const fs::path& file, std::uintmax_t size) {
  WriteFile(file, "");
  fs::resize_file(file, size);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SettingsFileChoiceTest,
    ::testing::Values(
        FileChoiceCase{"Missing", [](const fs::path&) {}, false, ""},
        FileChoiceCase{"JustOverOneMebibyte", [](const fs::path& file) { Sparse(file, 1'049'118); },
                       false, ""},
        FileChoiceCase{"TooLarge",
                       [](const fs::path& file) { Sparse(file, kMaxProfileFileSize + 1); }, true,
                       " is larger than 8 MiB or 100,000 lines, so its settings were not read and "
                       "it is left as it is. This session's settings are read from and saved to "},
        FileChoiceCase{"Directory", [](const fs::path& file) { fs::create_directory(file); }, true,
                       " cannot be read"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(SettingsFile, BothFilesUnusableSayTheSessionCannotBeSaved) {
  TempDir dir;
  fs::create_directory(dir / "Quorvel.ini");
  fs::create_directory(dir / "Quorvel.ini.new");
  EXPECT_NE(ChooseSettingsFile(dir / "Quorvel.ini").problem.find("cannot be saved"),
            std::string::npos);
}

TEST(SettingsFile, SaveWhereNoDirectoryCanBeIsSilentAndCreatesNothing) {
  TempDir dir;
  EXPECT_FALSE(SaveSettings(Settings{}, dir / "missing"));
  WriteFile(dir / "plain", "not a directory");
  EXPECT_FALSE(SaveSettings(Settings{}, dir / "plain"));
  EXPECT_EQ(Listing(dir.path()), std::vector<std::string>{"plain"});
  EXPECT_EQ(ReadAll(dir / "plain"), "not a directory");
}

}  // namespace
}  // namespace quorvel
