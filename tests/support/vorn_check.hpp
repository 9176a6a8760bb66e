#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "support/spop_wire.hpp"

namespace vorn::test {

using HeaderLines = std::vector<std::pair<std::string, std::string>>;

// A header block as HAProxy's req.hdrs gives it: "name: value" lines, each
// ending in CR LF, then the empty line.
[[nodiscard]] std::string headerBlock(const HeaderLines& headers);

// The "vorn-check" message with the arguments HAProxy is configured to send,
// in that order: ip, backlog, method, path, headers. std::monostate and an
// empty optional leave the argument out. The defaults describe a plain GET of
// the forge's front page from a documentation address.
struct VornCheck {
    using Ip = std::variant<std::monostate, std::string, Ipv4Bytes, Ipv6Bytes>;
    using Backlog = std::variant<std::monostate, std::int64_t, std::uint64_t, std::string>;

    Ip ip = Ipv4Bytes{192, 0, 2, 1};
    Backlog backlog = std::int64_t{0};
    std::optional<std::string> method = "GET";
    std::optional<std::string> path = "/";
    std::optional<std::string> headers = headerBlock({{"host", VORN_SITE_DOMAIN}});
    // Appended after the arguments above: unknown names, repeats, odd types.
    std::vector<KvItem> extraArgs{};

    [[nodiscard]] Message message() const;
};

[[nodiscard]] Bytes notify(std::uint64_t streamId, std::uint64_t frameId, const VornCheck& check);

}  // namespace vorn::test
