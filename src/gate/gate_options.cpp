#include "gate/gate_options.hpp"

#include <algorithm>
#include <charconv>
#include <string_view>

namespace vorn {

namespace {

constexpr std::size_t maxSiteName = 100;
constexpr std::size_t maxContact = 200;

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

// Shown on every page: printable text (UTF-8 welcome), no control bytes.
std::expected<std::string, std::string> pageText(std::string_view name, std::string_view text,
                                                 std::size_t longest) {
    const bool printable = std::ranges::none_of(text, [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte < 0x20 || byte == 0x7f;
    });
    if (!printable || text.size() > longest) {
        return std::unexpected(std::string(name) + " takes at most " + std::to_string(longest) +
                               " bytes of printable text");
    }
    return std::string(text);
}

template <typename T>
std::expected<void, std::string> store(std::expected<T, std::string> parsed, auto& into) {
    if (!parsed) return std::unexpected(parsed.error());
    into = static_cast<std::remove_reference_t<decltype(into)>>(*parsed);
    return {};
}

std::expected<void, std::string> apply(GateOptions& options, std::string_view name,
                                       std::string_view value) {
    if (name == "--listen") return store<std::string>(std::string(value), options.listen);
    if (name == "--metrics") return store<std::string>(std::string(value), options.metrics);
    if (name == "--key") return store<std::string>(std::string(value), options.key);
    if (name == "--receipt-ttl") {
        return store(number(name, value, 60, 7 * 86400), options.receiptLifetime);
    }
    if (name == "--nonce-ttl") return store(number(name, value, 10, 3600), options.nonceLifetime);
    if (name == "--max-connections") {
        return store(number(name, value, 1, 4096), options.maxConnections);
    }
    if (name == "--challenges-per-client") {
        return store(number(name, value, 1, 10'000), options.challengesPerClient);
    }
    if (name == "--replay-entries") {
        return store(number(name, value, 1024, 16'777'216), options.replayEntries);
    }
    if (name == "--site-name") return store(pageText(name, value, maxSiteName), options.siteName);
    if (name == "--contact") return store(pageText(name, value, maxContact), options.contact);
    return std::unexpected("unknown option " + std::string(name));
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

}  // namespace vorn
