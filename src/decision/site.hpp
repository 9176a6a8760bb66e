#pragma once

#include <string_view>

namespace vorn {

// The protected forge: its domain (the bare-Referer fingerprint) and the name
// of its session cookie (the signed-in marker). Set at start-up by
// --site-domain and --session-cookie; the defaults are fixed at build time
// (VORN_SITE_DOMAIN and VORN_SESSION_COOKIE in CMake).
struct Site {
    std::string_view domain = VORN_SITE_DOMAIN;
    std::string_view sessionCookie = VORN_SESSION_COOKIE;
};

inline constexpr Site defaultSite{};

}  // namespace vorn
