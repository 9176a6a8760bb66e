#pragma once

#include <cstdint>
#include <expected>
#include <span>
#include <string>

namespace vorn {

// vorn-gate's command line; every option is --name=value. Read once at
// start-up.
struct GateOptions {
    std::string listen = "127.0.0.1:8082";   // where HAProxy's bramblegate backend points
    std::string metrics = "127.0.0.1:9192";  // or "off"
    std::string key = "/usr/local/etc/vorn-gate.key";
    std::int64_t receiptLifetime = 3600;
    std::int64_t nonceLifetime = 300;
    int maxConnections = 64;
    std::int64_t challengesPerClient = 32;
    std::int64_t replayEntries = 262'144;
    std::string siteName;  // empty: the Host the visitor asked for
    std::string contact;   // empty: none
};

// Failures are the one-line message the gate logs before it exits.
[[nodiscard]] std::expected<GateOptions, std::string> parseGateOptions(
    std::span<char* const> words);

}  // namespace vorn
