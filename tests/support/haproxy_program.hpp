#pragma once

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <string_view>

namespace vorn::test {

// The HAProxy series the integration tests run against: every one Debian
// ships (2.6 in bookworm, 3.0 in trixie, 3.2 in sid). The shipped
// configuration must work unchanged with each.
inline constexpr std::array<std::string_view, 3> haproxySeries = {"2.6", "3.0", "3.2"};

struct HaproxyProgram {
    std::string path;     // empty when the series cannot be had here
    std::string missing;  // why, when `path` is empty
};

// HAProxy `series`: /usr/sbin/haproxy when it is of that series, else the
// copy that scripts/fetch-haproxy left in its cache folder
// ($VORN_HAPROXY_CACHE, else ${XDG_CACHE_HOME:-$HOME/.cache}/vorn-spoa/haproxy).
// Looked up once per series.
[[nodiscard]] const HaproxyProgram& findHaproxy(std::string_view series);

// "HAProxy2_6" for the row of series 2.6.
[[nodiscard]] std::string haproxyRowName(const testing::TestParamInfo<std::string_view>& info);

}  // namespace vorn::test
