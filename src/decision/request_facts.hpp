#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "common/nanos.hpp"

namespace vorn {

// One NOTIFY's request, as the decision sees it. Text fields view the NOTIFY
// payload (or the caller's formatting buffer for `ip`) and live only while
// the frame is handled; none of them is trusted to be text.
struct RequestFacts {
    Nanos arrival = 0;
    std::string_view ip;
    std::uint64_t ipHash = 0;
    std::optional<std::uint32_t> backlog;
    std::string_view path;
    std::string_view host;
    std::optional<std::string_view> secFetchSite;
    std::string_view referer;
    bool authed = false;
    std::string_view passToken;
};

}  // namespace vorn
