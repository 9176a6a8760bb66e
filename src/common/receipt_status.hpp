#pragma once

#include <cstdint>

#include "common/enum_names.hpp"

namespace vorn {

// Outcome of a request's pass receipt; none when no token was looked at.
enum class ReceiptStatus : std::uint8_t {
    none,
    valid,
    expired,
    wrong_host,
    bad,
    revoked,
    overload
};

inline constexpr std::size_t receiptStatusCount = 7;
inline constexpr std::array<std::string_view, receiptStatusCount> receiptStatusNames = {
    "none", "valid", "expired", "wrong_host", "bad", "revoked", "overload"};

[[nodiscard]] constexpr std::string_view receiptStatusName(ReceiptStatus s) {
    return receiptStatusNames[indexOf(s)];
}

}  // namespace vorn
