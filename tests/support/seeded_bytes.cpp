#include "support/seeded_bytes.h"

#include <random>

namespace quorvel::testing {

std::vector<uint8_t> SeededBytes(size_t size, unsigned seed) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> bytes(size);
  for (uint8_t& byte : bytes) byte = static_cast<uint8_t>(rng());
  return bytes;
}

}  // namespace quorvel::testing
