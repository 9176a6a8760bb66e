#include "loop/connection_limits.hpp"

#include <algorithm>

namespace vorn {

ConnectionLimits computeConnectionLimits(std::uint64_t connMemoryBytes,
                                         std::uint64_t descriptorBudget) {
    std::uint64_t chunkShare = connMemoryBytes - 3 * (connMemoryBytes / 4);
    std::uint64_t chunkLimit = std::max<std::uint64_t>(chunkShare / chunkBytes, 4);
    std::uint64_t byMemory = connMemoryBytes / 192;
    std::uint64_t connectionLimit =
        std::max<std::uint64_t>(std::min(byMemory, descriptorBudget), 1);
    return {connectionLimit, chunkLimit};
}

}  // namespace vorn
