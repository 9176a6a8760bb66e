#include <cstdio>
#include <ctime>
#include <string>

#include "commands.hpp"
#include "token/receipt_checker.hpp"
#include "token/signature.hpp"

namespace vorn::tool {

namespace {

Result<ReceiptKeySet> readKeys(const std::string& path) {
    auto failed = [&path](Error error) {
        return std::unexpected("key file " + path + ": " + std::string(errorName(error)));
    };
    auto keys = readReceiptKeys(path);
    if (!keys) return failed(keys.error());
    return std::move(*keys);
}

// The status before the receipt book: the checker's verdict, then the
// signature.
ReceiptStatus statusOf(const ReceiptCheck& checked) {
    if (!checked) return checked.error();
    const bool ok =
        verifyReceiptSignature(checked->signedText(), checked->signature, checked->publicKey);
    return ok ? ReceiptStatus::valid : ReceiptStatus::bad;
}

}  // namespace

// check --keys FILE --host HOST TOKEN: prints valid, bad, expired or
// wrong_host.
Result<void> checkCommand(std::span<char* const> words) {
    static constexpr std::array<std::string_view, 2> known = {"--keys", "--host"};
    auto arguments = parseArguments(words, known);
    if (!arguments) return std::unexpected(arguments.error());
    auto keysPath = required(*arguments, "--keys");
    if (!keysPath) return std::unexpected(keysPath.error());
    auto host = required(*arguments, "--host");
    if (!host) return std::unexpected(host.error());
    if (arguments->positional.size() != 1) return std::unexpected("check needs one TOKEN");

    auto keys = readKeys(std::string(*keysPath));
    if (!keys) return std::unexpected(keys.error());
    auto checker = ReceiptChecker::create();
    if (!checker) return std::unexpected(std::string(errorName(checker.error())));
    const auto checked = checker->check(arguments->positional.front(), *host, *keys,
                                        static_cast<std::int64_t>(std::time(nullptr)));
    std::printf("%s\n", std::string(receiptStatusName(statusOf(checked))).c_str());
    return {};
}

}  // namespace vorn::tool
