#include "support/vorn_check.hpp"

namespace vorn::test {

namespace {

template <typename... Handlers>
struct Overloaded : Handlers... {
    using Handlers::operator()...;
};
template <typename... Handlers>
Overloaded(Handlers...) -> Overloaded<Handlers...>;

std::optional<Bytes> ipValue(const VornCheck::Ip& ip) {
    return std::visit(
        Overloaded{
            [](std::monostate) -> std::optional<Bytes> { return std::nullopt; },
            [](const std::string& text) -> std::optional<Bytes> { return stringValue(text); },
            [](const Ipv4Bytes& v4) -> std::optional<Bytes> { return ipv4Value(v4); },
            [](const Ipv6Bytes& v6) -> std::optional<Bytes> { return ipv6Value(v6); },
        },
        ip);
}

std::optional<Bytes> backlogValue(const VornCheck::Backlog& backlog) {
    return std::visit(
        Overloaded{
            [](std::monostate) -> std::optional<Bytes> { return std::nullopt; },
            [](std::int64_t n) -> std::optional<Bytes> { return int64Value(n); },
            [](std::uint64_t n) -> std::optional<Bytes> { return uint64Value(n); },
            [](const std::string& text) -> std::optional<Bytes> { return stringValue(text); },
        },
        backlog);
}

void addIfPresent(std::vector<KvItem>& args, std::string name, std::optional<Bytes> value) {
    if (value) args.push_back({std::move(name), std::move(*value)});
}

std::optional<Bytes> stringIfPresent(const std::optional<std::string>& text) {
    if (!text) return std::nullopt;
    return stringValue(*text);
}

}  // namespace

std::string headerBlock(const HeaderLines& headers) {
    std::string block;
    for (const auto& [name, value] : headers) block += name + ": " + value + "\r\n";
    return block + "\r\n";
}

Message VornCheck::message() const {
    Message result{.name = "vorn-check", .args = {}, .nbArgs = std::nullopt};
    addIfPresent(result.args, "ip", ipValue(ip));
    addIfPresent(result.args, "backlog", backlogValue(backlog));
    addIfPresent(result.args, "method", stringIfPresent(method));
    addIfPresent(result.args, "path", stringIfPresent(path));
    addIfPresent(result.args, "headers", stringIfPresent(headers));
    result.args.insert(result.args.end(), extraArgs.begin(), extraArgs.end());
    return result;
}

Bytes notify(std::uint64_t streamId, std::uint64_t frameId, const VornCheck& check) {
    return notify(streamId, frameId, std::vector<Message>{check.message()});
}

}  // namespace vorn::test
