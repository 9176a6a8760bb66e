#pragma once

#include <array>
#include <cstdint>
#include <string_view>

#include "common/enum_names.hpp"

namespace vorn {

// Why vorn-gate refused a request. Each is answered with a plain 400 (429
// for too_many_challenges) whose body names it, counted under its name and
// logged for the answer route.
enum class GateFault : std::uint8_t {
    BadHttp,
    TooLarge,
    Timeout,
    BadTransferEncoding,
    BadChunk,
    NoClient,
    NoDifficulty,
    BadHost,
    BadReturn,
    BadForm,
    BadNonce,
    ExpiredNonce,
    WrongAnswer,
    Replayed,
    ReplaySetFull,
    TooManyChallenges,
    TokenTooLong,
};

inline constexpr std::array<std::string_view, 17> gateFaultNames = {
    "bad_http",       "too_large", "timeout",         "bad_transfer_encoding",
    "bad_chunk",      "no_client", "no_difficulty",   "bad_host",
    "bad_return",     "bad_form",  "bad_nonce",       "expired_nonce",
    "wrong_answer",   "replayed",  "replay_set_full", "too_many_challenges",
    "token_too_long",
};

inline constexpr std::size_t gateFaultCount = gateFaultNames.size();
static_assert(static_cast<std::size_t>(GateFault::TokenTooLong) + 1 == gateFaultCount);

[[nodiscard]] constexpr std::string_view gateFaultName(GateFault fault) {
    return gateFaultNames[indexOf(fault)];
}

}  // namespace vorn
