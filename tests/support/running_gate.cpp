#include "support/running_gate.hpp"

#include <gtest/gtest.h>
#include <sodium.h>

#include <array>

#include "support/command.hpp"
#include "support/free_tcp_port.hpp"
#include "support/log_line.hpp"

namespace vorn::test {

namespace {

std::vector<std::string> withListeners(const std::string& key, std::uint16_t port,
                                       std::uint16_t metricsPort, std::vector<std::string> extra) {
    std::vector<std::string> arguments = {"--key=" + key,
                                          "--listen=127.0.0.1:" + std::to_string(port),
                                          "--metrics=127.0.0.1:" + std::to_string(metricsPort)};
    arguments.insert(arguments.end(), extra.begin(), extra.end());
    return arguments;
}

std::string attribute(std::string_view page, std::string_view name) {
    const std::string key = "data-" + std::string(name) + "=\"";
    const std::size_t at = page.find(key);
    if (at == std::string_view::npos) return "";
    const std::size_t from = at + key.size();
    return std::string(page.substr(from, page.find('"', from) - from));
}

}  // namespace

std::optional<std::string> makeGateKey(const std::string& path, std::string_view kid) {
    auto keygen = runCommand({VORN_RECEIPT_TOOL, "keygen", std::string(kid), "--out", path});
    EXPECT_TRUE(keygen && keygen->status == 0) << "vorn-receipt keygen " << kid;
    if (!keygen || keygen->status != 0) return std::nullopt;
    return keygen->output;
}

namespace {

LaunchOptions gateProgram(LaunchOptions options) {
    options.program = VORN_GATE_BINARY;
    return options;
}

}  // namespace

RunningGate::RunningGate(std::vector<std::string> extraArguments, std::string kid,
                         LaunchOptions options)
    : keyFile_(directory_.file(kid + ".key")),
      publicKeyLine_(makeGateKey(keyFile_, kid).value_or("")),
      port_(freeTcpPort()),
      metricsPort_(freeTcpPort()),
      process_(withListeners(keyFile_, port_, metricsPort_, std::move(extraArguments)),
               gateProgram(std::move(options))) {
    ready_ = process_.waitForLine([](std::string_view line) {
        auto message = messageOf(line);
        return message && (message->starts_with("metrics on ") || *message == "metrics off");
    });
    EXPECT_TRUE(ready_) << process_.linesText();
}

std::optional<HttpResponse> RunningGate::send(std::string_view method, std::string_view target,
                                              std::string_view head, std::string_view body) const {
    std::string request = std::string(method) + " " + std::string(target) +
                          " HTTP/1.1\r\nHost: forge.example\r\n" + std::string(head);
    if (!body.empty()) request += "Content-Length: " + std::to_string(body.size()) + "\r\n";
    auto raw = httpExchange(port_, request + "\r\n" + std::string(body));
    return raw ? parseHttpResponse(*raw) : std::nullopt;
}

std::string RunningGate::metrics() const {
    auto response = httpGet(metricsPort_, "/metrics");
    EXPECT_TRUE(response && response->status == 200);
    return response ? response->body : std::string();
}

std::optional<GateChallenge> readGateChallenge(std::string_view page) {
    GateChallenge challenge{.nonce = attribute(page, "nonce"), .bound = attribute(page, "bound")};
    if (challenge.nonce.empty() || challenge.bound.size() != 64) return std::nullopt;
    return challenge;
}

std::string solveGateChallenge(const GateChallenge& challenge, bool meets) {
    std::array<char, 65> hex{};
    for (unsigned long counter = 0;; ++counter) {
        const std::string text = challenge.nonce + std::to_string(counter);
        std::array<unsigned char, crypto_hash_sha256_BYTES> digest{};
        crypto_hash_sha256(digest.data(), reinterpret_cast<const unsigned char*>(text.data()),
                           text.size());
        sodium_bin2hex(hex.data(), hex.size(), digest.data(), digest.size());
        // Equal-length lower-case hexadecimal compares as the numbers do.
        if ((std::string_view(hex.data(), 64) < challenge.bound) == meets) {
            return std::to_string(counter);
        }
    }
}

std::string gateAnswerBody(const GateChallenge& challenge, std::string_view counter,
                           std::string_view returnPath) {
    std::string encoded;
    for (char c : returnPath) encoded += c == '/' ? std::string("%2F") : std::string(1, c);
    return "nonce=" + challenge.nonce + "&counter=" + std::string(counter) + "&return=" + encoded;
}

}  // namespace vorn::test
