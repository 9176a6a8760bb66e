#pragma once

#include <string_view>

namespace vorn {

// The protected forge, fixed at build time (VORN_SITE_DOMAIN and
// VORN_SESSION_COOKIE in CMake).
inline constexpr std::string_view siteDomain = VORN_SITE_DOMAIN;
inline constexpr std::string_view siteSessionCookie = VORN_SESSION_COOKIE;

}  // namespace vorn
