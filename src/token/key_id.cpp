#include "token/key_id.hpp"

#include <algorithm>

#include "token/receipt.hpp"

namespace vorn {

namespace {

bool isKeyIdByte(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '.' || c == ':' || c == '_';
}

}  // namespace

bool isKeyId(std::string_view text) {
    return !text.empty() && text.size() <= maxKeyIdLength && std::ranges::all_of(text, isKeyIdByte);
}

}  // namespace vorn
