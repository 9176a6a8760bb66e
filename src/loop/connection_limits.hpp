#pragma once

#include <cstdint>

namespace vorn {

inline constexpr std::uint64_t chunkBytes = 65536;

// The connection-memory budget split: a quarter for 64 KiB buffer chunks,
// three quarters for connections at 192 bytes each (144 bytes of record plus
// their share), and never more connections than descriptors.
struct ConnectionLimits {
    std::uint64_t connectionLimit;
    std::uint64_t chunkLimit;
};

[[nodiscard]] ConnectionLimits computeConnectionLimits(std::uint64_t connMemoryBytes,
                                                       std::uint64_t descriptorBudget);

}  // namespace vorn
