#pragma once

#include <optional>
#include <string_view>

#include "decision/request_facts.hpp"

namespace vorn {

// Whether the Referer is exactly "https://" or "http://", then `domain` or a
// subdomain of it made of letters, digits and '-', then at most one '/'.
// Anything more (port, path, user information) is a real page, not the origin.
[[nodiscard]] bool refererIsSiteOrigin(std::string_view referer, std::string_view domain);

// Whether the request was not a same-origin page fetch: Sec-Fetch-Site is
// absent or not exactly "same-origin".
[[nodiscard]] bool notSameOrigin(const std::optional<std::string_view>& secFetchSite);

// The bot fingerprint: claims the front page of the site at `domain` as
// Referer but was not fetched by a page of the site.
[[nodiscard]] bool botprint(const RequestFacts& facts, std::string_view domain);

}  // namespace vorn
