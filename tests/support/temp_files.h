// Files for tests: a temporary directory removed with everything in it, and
// whole-file reads and writes.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace quorvel::testing {

class TempDir {
 public:
  TempDir();   // fails the current test if no directory can be made
  ~TempDir();  // removes it, even when a test took its write permission
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(const char* name) const { return path_ / name; }

 private:
  std::filesystem::path path_;
};

void WriteFile(const std::filesystem::path& path, const std::string& text);
std::string ReadAll(const std::filesystem::path& path);
// The names in `directory`, sorted.
std::vector<std::string> Listing(const std::filesystem::path& directory);

}  // namespace quorvel::testing
