// The files of a transfer: names made safe, received files placed without
// touching what exists, a promised size honoured, files to send read back.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <algorithm>
#include <string>
#include <vector>

#include "support/seeded_bytes.h"
#include "support/temp_files.h"
#include "transfer/folder_sink.h"
#include "transfer/local_file.h"
#include "transfer/safe_name.h"

namespace quorvel {
namespace {

using testing::Listing;
using testing::ReadAll;
using testing::TempDir;
using testing::WriteFile;

struct NameCase {
  std::string sent;
  std::string safe;
};

class SafeNameTest : public ::testing::TestWithParam<NameCase> {};

TEST_P(SafeNameTest, KeepsTheLastComponentWithoutControlCharacters) {
  EXPECT_EQ(SafeFileName(GetParam().sent), GetParam().safe);
}

INSTANTIATE_TEST_SUITE_P(
    Names, SafeNameTest,
    ::testing::Values(NameCase{"firmware.bin", "firmware.bin"}, NameCase{"../../x", "x"},
                      NameCase{"/etc/passwd", "passwd"}, NameCase{"C:\\dos\\file.txt", "file.txt"},
                      NameCase{"bad\x01name\x7f\n", "bad_name__"}, NameCase{"..", ""},
                      NameCase{".", ""}, NameCase{"", ""}, NameCase{"dir/", ""},
                      NameCase{"a/..", ""}, NameCase{".profile", ".profile"},
                      NameCase{std::string(10240, 'n'), std::string(255, 'n')},
                      NameCase{std::string(10240, 'n') + ".bin", std::string(251, 'n') + ".bin"},
                      // Cut at a character: a two-byte 'é' never split.
                      NameCase{"a" +
                                   [] {
                                     std::string s;
                                     for (int i = 0; i < 200; ++i) s += "\xC3\xA9";
                                     return s;
                                   }(),
                               "a" +
                                   [] {
                                     std::string s;
                                     for (int i = 0; i < 127; ++i) s += "\xC3\xA9";
                                     return s;
                                   }()}));

TEST(NumberedName, GoesBeforeTheExtensionAndStaysShortEnough) {
  EXPECT_EQ(NumberedFileName("name.bin", 1), "name (1).bin");
  EXPECT_EQ(NumberedFileName("noext", 2), "noext (2)");
  EXPECT_EQ(NumberedFileName(".profile", 3), ".profile (3)");
  std::string longest = NumberedFileName(std::string(255, 'n'), 12);
  EXPECT_EQ(longest.size(), 255u);
  EXPECT_EQ(longest.substr(250), " (12)");
}

bool Receive(FolderSink& sink, const IncomingFile& file, const std::string& bytes,
             bool complete = true) {
  std::string reason;
  if (!sink.Begin(file, &reason)) return false;
  EXPECT_TRUE(sink.Write(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), &reason));
  EXPECT_TRUE(sink.End(complete, &reason)) << reason;
  return true;
}

// The disk fills (a file size limit stands in): whether the sink says so at
// a write or, for bytes it still held, at the end, the file is never kept as
// whole.
TEST(FolderSink, ADiskThatFillsIsToldAtTheLatestAtTheEndAndNothingIsKept) {
  struct Case {
    size_t bytes;
    bool writeFails;  // else the end does
  };
  constexpr size_t kLimit = 80'000;
  const Case cases[] = {{90'000, false}, {200'000, true}};
  for (const Case& c : cases) {
    TempDir dir;
    FolderSink sink({dir.path().string(), ExistingFiles::kNumber, ""});
    std::string reason;
    ASSERT_TRUE(sink.Begin({"big.bin", c.bytes, {}, {}}, &reason)) << reason;
    rlimit before{};
    ::getrlimit(RLIMIT_FSIZE, &before);
    rlimit small = before;
    small.rlim_cur = kLimit;
    void (*handler)(int) = ::signal(SIGXFSZ, SIG_IGN);  // a write past it fails instead
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    const std::vector<uint8_t> bytes = testing::SeededBytes(c.bytes, 5);
    bool written = true;
    for (size_t at = 0; written && at < bytes.size(); at += 1024) {
      written = sink.Write(bytes.data() + at, std::min<size_t>(1024, bytes.size() - at), &reason);
    }
    bool ended = sink.End(true, &reason);
    ::setrlimit(RLIMIT_FSIZE, &before);
    ::signal(SIGXFSZ, handler);
    EXPECT_EQ(written, !c.writeFails) << c.bytes;
    EXPECT_FALSE(ended && written) << c.bytes;
    EXPECT_NE(reason.find("cannot write big.bin"), std::string::npos) << reason;
    EXPECT_TRUE(Listing(dir.path()).empty()) << c.bytes;
  }
}

TEST(FolderSink, NeverTouchesAnExistingFileUnlessToldToReplace) {
  TempDir dir;
  WriteFile(dir / "a.bin", "old");
  FolderSink numbered({dir.path().string(), ExistingFiles::kNumber, ""});
  ASSERT_TRUE(Receive(numbered, {"a.bin", {}, {}, {}}, "new"));
  ASSERT_TRUE(Receive(numbered, {"a.bin", {}, {}, {}}, "newer"));
  EXPECT_EQ(ReadAll(dir / "a.bin"), "old");
  EXPECT_EQ(ReadAll(dir / "a (1).bin"), "new");
  EXPECT_EQ(ReadAll(dir / "a (2).bin"), "newer");
  ASSERT_EQ(numbered.Files().size(), 2u);
  EXPECT_EQ(numbered.Files()[1].path, (dir / "a (2).bin").string());

  FolderSink replacing({dir.path().string(), ExistingFiles::kReplace, ""});
  ASSERT_TRUE(Receive(replacing, {"a.bin", {}, {}, {}}, "replaced"));
  EXPECT_EQ(ReadAll(dir / "a.bin"), "replaced");
  // Cut short, it replaces nothing even then.
  replacing.KeepPartial(true);
  ASSERT_TRUE(Receive(replacing, {"a.bin", {}, {}, {}}, "part", false));
  EXPECT_EQ(ReadAll(dir / "a.bin"), "replaced");
  EXPECT_EQ(ReadAll(dir / "a (3).bin"), "part");
  EXPECT_EQ(Listing(dir.path()).size(), 4u);  // no hidden file left behind
}

TEST(FolderSink, DeletesAFileCutShortUnlessKept) {
  TempDir dir;
  FolderSink sink({dir.path().string(), ExistingFiles::kNumber, ""});
  ASSERT_TRUE(Receive(sink, {"cut.bin", 100, {}, {}}, "half", false));
  EXPECT_TRUE(Listing(dir.path()).empty());
  sink.KeepPartial(true);
  ASSERT_TRUE(Receive(sink, {"cut.bin", 100, {}, {}}, "half", false));
  EXPECT_EQ(ReadAll(dir / "cut.bin"), "half");
  ASSERT_EQ(sink.Files().size(), 1u);
  EXPECT_FALSE(sink.Files()[0].complete);
}

TEST(FolderSink, HonoursTheSizeAndTheTimeTheSenderGave) {
  TempDir dir;
  FolderSink sink({dir.path().string(), ExistingFiles::kNumber, "mine.txt"});
  ASSERT_TRUE(Receive(sink, {"theirs.txt", 5, 1700000000, {}}, "hello\x1A\x1A\x1A"));
  EXPECT_EQ(ReadAll(dir / "mine.txt"), "hello");
  struct stat info {};
  ASSERT_EQ(::stat((dir / "mine.txt").c_str(), &info), 0);
  EXPECT_EQ(info.st_mtime, 1700000000);
  // As any new file of the user's, not the private mode of a temporary file.
  mode_t mask = ::umask(0);
  ::umask(mask);
  EXPECT_EQ(info.st_mode & 0777, 0666 & ~mask);
}

TEST(FolderSink, RefusesWhatCannotBeKeptBeforeWritingAnything) {
  TempDir dir;
  FolderSink sink({dir.path().string(), ExistingFiles::kNumber, ""});
  std::string reason;
  EXPECT_FALSE(sink.Begin({"huge.bin", uint64_t{1} << 63, {}, {}}, &reason));
  EXPECT_NE(reason.find("free"), std::string::npos) << reason;
  EXPECT_FALSE(sink.Begin({"../", {}, {}, {}}, &reason));
  EXPECT_NE(reason.find("safe"), std::string::npos) << reason;
  FolderSink nowhere({(dir / "missing").string(), ExistingFiles::kNumber, ""});
  EXPECT_FALSE(nowhere.Begin({"a", {}, {}, {}}, &reason));
  EXPECT_NE(reason.find("cannot write"), std::string::npos) << reason;
  EXPECT_TRUE(Listing(dir.path()).empty());
}

TEST(LocalFile, ReadsAtAnyOffsetAndSaysWhyItCannotOpen) {
  TempDir dir;
  WriteFile(dir / "f.bin", "0123456789");
  std::string reason;
  std::unique_ptr<LocalFile> file = LocalFile::Open((dir / "f.bin").string(), &reason);
  ASSERT_TRUE(file);
  EXPECT_EQ(file->Name(), "f.bin");
  EXPECT_EQ(file->Size(), 10u);
  EXPECT_GT(file->ModifiedUnix(), 0);
  uint8_t buffer[8];
  ASSERT_EQ(file->ReadAt(6, buffer, sizeof buffer, &reason), 4);
  EXPECT_EQ(std::string(buffer, buffer + 4), "6789");
  EXPECT_EQ(file->ReadAt(10, buffer, sizeof buffer, &reason), 0);
  EXPECT_FALSE(LocalFile::Open((dir / "none").string(), &reason));
  EXPECT_EQ(reason, "No such file or directory");
  EXPECT_FALSE(LocalFile::Open(dir.path().string(), &reason));
  EXPECT_EQ(reason, "not a regular file");
}

TEST(LocalFile, ReadsTheFilesBytesInOrderBackAndAcrossItsReadAhead) {
  TempDir dir;
  const std::vector<uint8_t> bytes = testing::SeededBytes(200'000, 3);
  WriteFile(dir / "f.bin", std::string(bytes.begin(), bytes.end()));
  std::string reason;
  std::unique_ptr<LocalFile> file = LocalFile::Open((dir / "f.bin").string(), &reason);
  ASSERT_TRUE(file);
  struct Read {
    uint64_t offset;
    size_t count;
  };
  // In order by 1 KiB, over a block's end, back (a receiver's ZRPOS), a
  // read larger than a block, and past the end.
  const Read reads[] = {{0, 1024},   {1024, 1024}, {65'000, 1024},  {65'536, 128},   {1000, 1024},
                        {70'000, 1}, {5, 100'000}, {199'990, 1024}, {200'000, 1024}, {63'000, 8}};
  for (const Read& r : reads) {
    std::vector<uint8_t> buffer(r.count);
    int64_t got = file->ReadAt(r.offset, buffer.data(), r.count, &reason);
    ASSERT_GE(got, 0) << r.offset;
    // The bytes asked for, or the file's rest.
    size_t rest = r.offset < bytes.size() ? bytes.size() - r.offset : 0;
    ASSERT_EQ(static_cast<size_t>(got), std::min(r.count, rest)) << r.offset;
    EXPECT_TRUE(std::equal(buffer.begin(), buffer.begin() + got, bytes.begin() + r.offset))
        << r.offset;
  }
}

}  // namespace
}  // namespace quorvel
