// Replays a fuzz target's kept corpus as an ordinary test: every file in the
// directories named on the command line goes through the target once.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

int main(int argc, char** argv) {
  int replayed = 0;
  for (int i = 1; i < argc; ++i) {
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(argv[i], error)) {
      if (!entry.is_regular_file()) continue;
      std::ifstream file(entry.path(), std::ios::binary);
      std::vector<uint8_t> input((std::istreambuf_iterator<char>(file)), {});
      LLVMFuzzerTestOneInput(input.data(), input.size());
      ++replayed;
    }
    if (error) {
      std::fprintf(stderr, "cannot read corpus %s: %s\n", argv[i], error.message().c_str());
      return 1;
    }
  }
  // An empty input too: the smallest case every target must take.
  LLVMFuzzerTestOneInput(nullptr, 0);
  std::printf("%d passed, 0 failed\n", replayed + 1);
  return 0;
}
