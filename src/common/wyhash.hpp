#pragma once

#include <cstdint>
#include <string_view>

namespace vorn {

// 64-bit Wyhash (final version 4, default secret). The daemon hashes client
// addresses and tokens with seed 0; the hashes never leave the process.
[[nodiscard]] std::uint64_t wyhash(std::string_view bytes, std::uint64_t seed = 0);

}  // namespace vorn
