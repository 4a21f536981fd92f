// The settings file on any existing text: after a save, every key we wrote
// reads back as written, and every other line of the file is still there,
// unchanged and in order (at most one line changes per key written).
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "settings/profile_file.h"
#include "settings/settings.h"

namespace {

namespace fs = std::filesystem;

// Pulls fuzzed values off the front of the input; the rest is the file.
class Input {
 public:
  Input(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  int32_t Int() {
    int32_t value = 0;
    size_t n = std::min(sizeof value, size_);
    if (n > 0) std::memcpy(&value, data_, n);
    data_ += n;
    size_ -= n;
    return value;
  }
  std::string Rest() const { return std::string(reinterpret_cast<const char*>(data_), size_); }

 private:
  const uint8_t* data_;
  size_t size_;
};

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

size_t CommonSubsequence(const std::vector<std::string>& a, const std::vector<std::string>& b) {
  std::vector<size_t> row(b.size() + 1, 0), next(b.size() + 1, 0);
  for (size_t i = a.size(); i-- > 0;) {
    for (size_t j = b.size(); j-- > 0;) {
      next[j] = a[i] == b[j] ? row[j + 1] + 1 : std::max(row[j], next[j + 1]);
    }
    std::swap(row, next);
  }
  return row[0];
}

std::string ReadFile(const fs::path& path) {
  std::ifstream file(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(file)), {});
}

const fs::path& Directory() {
  // Never destroyed, so the exit handler that removes it can still read it.
  static const fs::path* directory = [] {
    char name[] = "/tmp/quorvel-settings-fuzz-XXXXXX";
    FUZZ_CHECK(mkdtemp(name) != nullptr);
    std::atexit([] {
      std::error_code ignored;
      fs::remove_all(Directory(), ignored);
    });
    return new fs::path(name);
  }();
  return *directory;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Input input(data, size);
  quorvel::Settings settings;
  settings.selection = {input.Int(), input.Int(), input.Int(),
                        input.Int(), input.Int(), input.Int()};
  settings.hexDisplay = input.Int();
  settings.sendAsHex = input.Int();
  settings.timerIntervalMs = input.Int();
  settings.frameEndByte = static_cast<uint8_t>(input.Int());
  int32_t port = input.Int();
  int portNumber = 1 + static_cast<int>(static_cast<uint32_t>(port) % 255);
  settings.portMap[portNumber] = "/dev/pts/" + std::to_string(port & 0xffff);
  std::string original = input.Rest();
  if (original.size() > quorvel::kMaxProfileFileSize) return 0;

  fs::path file = Directory() / quorvel::kSettingsFileName;
  { std::ofstream(file, std::ios::binary | std::ios::trunc) << original; }
  FUZZ_CHECK(quorvel::SaveSettings(settings, Directory()));

  quorvel::Settings loaded = quorvel::LoadSettings(Directory());
  const auto& want = settings.selection;
  const auto& got = loaded.selection;
  FUZZ_CHECK(got.portPos == want.portPos && got.baudPos == want.baudPos &&
             got.dataBitsPos == want.dataBitsPos && got.stopBitsPos == want.stopBitsPos &&
             got.parityPos == want.parityPos && got.flowPos == want.flowPos);
  FUZZ_CHECK((loaded.hexDisplay != 0) == (settings.hexDisplay != 0));
  FUZZ_CHECK((loaded.sendAsHex != 0) == (settings.sendAsHex != 0));
  FUZZ_CHECK(loaded.timerIntervalMs == settings.timerIntervalMs);
  FUZZ_CHECK(loaded.frameEndByte == settings.frameEndByte);
  FUZZ_CHECK(loaded.portMap[portNumber] == settings.portMap[portNumber]);

  // Ten settings keys and one port-map entry may each change or add a line
  // (a new section adds its header line too); nothing else may move.
  std::vector<std::string> before = Lines(original);
  std::vector<std::string> after = Lines(ReadFile(file));
  FUZZ_CHECK(CommonSubsequence(before, after) + 11 >= before.size());
  return 0;
}
