#pragma once

#include <string_view>

#include "common/text_writer.hpp"
#include "gate/page_frame.hpp"

namespace vorn {

struct CookieNoticeFacts {
    std::string_view host;        // the Host header, checked plain
    std::string_view returnPath;  // checked
    // HAProxy said the visitor came over HTTPS; otherwise (plain HTTP, or
    // not said) the page names plain HTTP as a reason too.
    bool knownHttps = false;
};

// The page for a browser that solved a challenge but came back without the
// pass cookie, instead of another challenge it would solve in vain: it says
// why (cookies blocked for the site, or, over plain HTTP, kept only for
// HTTPS sites), what to do, and links to a fresh challenge for the same
// page once that is done.
void writeCookieNotice(TextWriter& out, const CookieNoticeFacts& facts, const SiteFacts& site);

// The query of a challenge page that leads back to `returnPath` and is
// served as a challenge even when it comes from the gate's own page.
inline constexpr std::string_view retryField = "retry";

}  // namespace vorn
