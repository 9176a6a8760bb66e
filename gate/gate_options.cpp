#include "gate_options.hpp"

#include <charconv>
#include <string_view>

namespace vorn::gate {

namespace {

std::expected<std::int64_t, std::string> number(std::string_view name, std::string_view text,
                                                std::int64_t low, std::int64_t high) {
    std::int64_t value = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc{} || end != text.data() + text.size() || value < low || value > high) {
        return std::unexpected(std::string(name) + " takes a whole number from " +
                               std::to_string(low) + " to " + std::to_string(high));
    }
    return value;
}

std::expected<void, std::string> apply(GateOptions& options, std::string_view name,
                                       std::string_view value) {
    std::expected<std::int64_t, std::string> parsed = 0;
    if (name == "--listen") {
        options.listen = value;
    } else if (name == "--metrics") {
        options.metrics = value;
    } else if (name == "--key") {
        options.key = value;
    } else if (name == "--receipt-ttl") {
        parsed = number(name, value, 60, 7 * 86400);
        if (parsed) options.receiptLifetime = *parsed;
    } else if (name == "--nonce-ttl") {
        parsed = number(name, value, 10, 3600);
        if (parsed) options.nonceLifetime = *parsed;
    } else if (name == "--max-connections") {
        parsed = number(name, value, 1, 4096);
        if (parsed) options.maxConnections = static_cast<int>(*parsed);
    } else {
        return std::unexpected("unknown option " + std::string(name));
    }
    if (!parsed) return std::unexpected(parsed.error());
    return {};
}

}  // namespace

std::expected<GateOptions, std::string> parseGateOptions(std::span<char* const> words) {
    GateOptions options;
    for (const char* word : words) {
        const std::string_view text = word;
        const std::size_t equals = text.find('=');
        if (!text.starts_with("--") || equals == std::string_view::npos) {
            return std::unexpected("options take the form --name=value, not " + std::string(text));
        }
        auto applied = apply(options, text.substr(0, equals), text.substr(equals + 1));
        if (!applied) return std::unexpected(applied.error());
    }
    return options;
}

}  // namespace vorn::gate
