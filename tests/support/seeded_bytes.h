// Reproducible test streams: the same seed gives the same bytes on every run.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace quorvel::testing {

std::vector<uint8_t> SeededBytes(size_t size, unsigned seed);

}  // namespace quorvel::testing
