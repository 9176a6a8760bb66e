#pragma once

#include <string_view>

namespace vorn {

// True for a key identifier as receipts and the key file write it: 1 to 128
// bytes of A-Z a-z 0-9 - . : _
[[nodiscard]] bool isKeyId(std::string_view text);

}  // namespace vorn
