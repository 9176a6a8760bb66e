#pragma once

#include <cstddef>
#include <span>
#include <string_view>

namespace vorn {

// Received bytes seen as text, for comparing names and taking values; the
// bytes are not checked to be text.
[[nodiscard]] inline std::string_view asText(std::span<const std::byte> bytes) {
    return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

}  // namespace vorn
