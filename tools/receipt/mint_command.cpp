#include <sodium.h>

#include <charconv>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <limits>
#include <string>

#include "commands.hpp"
#include "common/decimal.hpp"
#include "token/key_id.hpp"
#include "token/private_key_file.hpp"
#include "token/receipt.hpp"

namespace vorn::tool {

namespace {

// 2^-13: exactly representable, so it prints back as written.
constexpr std::string_view defaultDiff = "0.0001220703125";

Result<std::int64_t> parseTtl(std::string_view text) {
    std::int64_t ttl = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), ttl);
    if (ec != std::errc{} || end != text.data() + text.size() || ttl <= 0) {
        return std::unexpected("--ttl must be a positive whole number of seconds");
    }
    return ttl;
}

// The difficulty as a JSON number: finite, in the shortest spelling that
// reads back as the same double.
Result<std::string> diffJson(std::string_view text) {
    auto diff = parseDecimal(text, std::chars_format::general);
    if (!diff || !std::isfinite(*diff)) return std::unexpected("--diff must be a finite number");
    std::array<char, 32> digits{};
    auto written = std::to_chars(digits.data(), digits.data() + digits.size(), *diff);
    return std::string(digits.data(), written.ptr);
}

struct MintRequest {
    PrivateKey key;
    std::string_view aud;
    std::string diff;
    std::int64_t exp = 0;
};

Result<MintRequest> readRequest(const Arguments& arguments) {
    MintRequest request;
    auto keyPath = required(arguments, "--key");
    auto kid = required(arguments, "--kid");
    auto aud = required(arguments, "--aud");
    auto ttlText = required(arguments, "--ttl");
    for (const auto* value : {&keyPath, &kid, &aud, &ttlText}) {
        if (!*value) return std::unexpected(value->error());
    }
    if (!arguments.positional.empty()) {
        return std::unexpected("unexpected argument " + std::string(arguments.positional.front()));
    }
    if (!isKeyId(*kid))
        return std::unexpected("--kid must be 1 to 128 bytes of A-Z a-z 0-9 - . : _");
    auto ttl = parseTtl(*ttlText);
    if (!ttl) return std::unexpected(ttl.error());
    auto diff = diffJson(arguments.option("--diff").value_or(defaultDiff));
    if (!diff) return std::unexpected(diff.error());
    const auto now = static_cast<std::int64_t>(std::time(nullptr));
    if (*ttl > std::numeric_limits<std::int64_t>::max() - now) {
        return std::unexpected("--ttl is too large");
    }
    auto key = readPrivateKeyFile(std::string(*keyPath));
    if (!key) return std::unexpected(key.error());
    if (key->kid != *kid) {
        return std::unexpected("--kid " + std::string(*kid) + " does not match the key file's " +
                               key->kid);
    }
    request.key = std::move(*key);
    request.aud = *aud;
    request.diff = std::move(*diff);
    request.exp = now + *ttl;
    return request;
}

}  // namespace

// mint --key FILE --kid KID --aud HOST --ttl SECONDS [--diff D]: prints a
// receipt valid for HOST until now + SECONDS.
Result<void> mintCommand(std::span<char* const> words) {
    static constexpr std::array<std::string_view, 5> known = {"--key", "--kid", "--aud", "--ttl",
                                                              "--diff"};
    auto arguments = parseArguments(words, known);
    if (!arguments) return std::unexpected(arguments.error());
    auto request = readRequest(*arguments);
    if (!request) return std::unexpected(request.error());

    auto token =
        mintReceipt(request->key.seed, request->key.kid, request->aud, request->diff, request->exp);
    sodium_memzero(request->key.seed.data(), request->key.seed.size());
    if (!token) return std::unexpected(std::string(errorName(token.error())));
    if (token->size() > maxTokenLength) {
        return std::unexpected("the receipt would be " + std::to_string(token->size()) +
                               " bytes; receipts hold at most " + std::to_string(maxTokenLength));
    }
    std::printf("%s\n", token->c_str());
    return {};
}

}  // namespace vorn::tool
