#pragma once

#include <cstdint>
#include <expected>
#include <span>
#include <string>

namespace vorn::gate {

// vorn-gate's command line; every option is --name=value.
struct GateOptions {
    std::string listen = "127.0.0.1:8082";   // where HAProxy's bramblegate backend points
    std::string metrics = "127.0.0.1:9192";  // or "off"
    std::string key = "/usr/local/etc/vorn-gate.key";
    std::int64_t receiptLifetime = 3600;
    std::int64_t nonceLifetime = 300;
    int maxConnections = 64;
};

// Failures are the one-line message the gate prints before it exits.
[[nodiscard]] std::expected<GateOptions, std::string> parseGateOptions(
    std::span<char* const> words);

}  // namespace vorn::gate
