#pragma once

#include <cstdint>

#include "common/enum_names.hpp"

namespace vorn {

enum class Verdict : std::uint8_t { pass, trap, watch, challenge };

inline constexpr std::size_t verdictCount = 4;
inline constexpr std::array<std::string_view, verdictCount> verdictNames = {"pass", "trap", "watch",
                                                                            "challenge"};

// The rule that decided a request.
enum class Reason : std::uint8_t {
    gateway,
    cold,
    authed,
    receipt,
    bogus,
    bare_referer,
    hot_botprint,
    hot,
    expensive,
    expensive_authed,
};

inline constexpr std::size_t reasonCount = 10;
inline constexpr std::array<std::string_view, reasonCount> reasonNames = {
    "gateway",      "cold",         "authed", "receipt",   "bogus",
    "bare_referer", "hot_botprint", "hot",    "expensive", "expensive_authed"};

[[nodiscard]] constexpr std::string_view verdictName(Verdict v) {
    return verdictNames[indexOf(v)];
}
[[nodiscard]] constexpr std::string_view reasonName(Reason r) {
    return reasonNames[indexOf(r)];
}

}  // namespace vorn
