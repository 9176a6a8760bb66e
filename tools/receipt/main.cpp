// vorn-receipt: the operator's tool for pass receipts.

#include <cstdio>
#include <span>
#include <string_view>

#include "commands.hpp"
#include "token/signature.hpp"

namespace {

constexpr std::string_view usage =
    "usage: vorn-receipt keygen KID [--out FILE]\n"
    "       vorn-receipt mint --key FILE --kid KID --aud HOST --ttl SECONDS [--diff D]\n"
    "       vorn-receipt check --keys FILE --host HOST TOKEN\n";

int fail(std::string_view message) {
    std::fprintf(stderr, "vorn-receipt: %.*s\n", static_cast<int>(message.size()), message.data());
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    std::span<char* const> words(argv, static_cast<std::size_t>(argc));
    if (words.size() < 2) {
        std::fputs(usage.data(), stderr);
        return 1;
    }
    if (!vorn::prepareSignatures()) return fail("cannot start libsodium");
    const std::string_view command = words[1];
    const auto rest = words.subspan(2);
    vorn::tool::Result<void> result;
    if (command == "keygen") {
        result = vorn::tool::keygenCommand(rest);
    } else if (command == "mint") {
        result = vorn::tool::mintCommand(rest);
    } else if (command == "check") {
        result = vorn::tool::checkCommand(rest);
    } else {
        std::fputs(usage.data(), stderr);
        return fail("unknown command " + std::string(command));
    }
    if (!result) return fail(result.error());
    return std::fflush(stdout) == 0 ? 0 : fail("cannot write standard output");
}
