#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace vorn::gate {

// Why the gate refused a request. Each is answered with a plain 400 (the
// name is the short reason) and counted under its name.
enum class Fault : std::uint8_t {
    BadHttp,
    TooLarge,
    Timeout,
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
    TokenTooLong,
    OutOfMemory,
};

inline constexpr std::size_t faultCount = 15;

inline constexpr std::array<std::string_view, faultCount> faultNames = {
    "bad_http",     "too_large",  "timeout",         "no_client",      "no_difficulty",
    "bad_host",     "bad_return", "bad_form",        "bad_nonce",      "expired_nonce",
    "wrong_answer", "replayed",   "replay_set_full", "token_too_long", "out_of_memory",
};

static_assert(static_cast<std::size_t>(Fault::OutOfMemory) + 1 == faultCount);

[[nodiscard]] constexpr std::string_view faultName(Fault fault) {
    return faultNames[static_cast<std::size_t>(fault)];
}

}  // namespace vorn::gate
