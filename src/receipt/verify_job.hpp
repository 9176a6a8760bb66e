#pragma once

#include <array>
#include <cstdint>
#include <string_view>

#include "token/receipt.hpp"

namespace vorn {

// One signature check, self-contained (copies, no pointers), so that a key
// reload or the reuse of the parked request's slot cannot touch it.
struct VerifyJob {
    std::uint64_t slot = 0;       // parked-request slot to complete
    std::uint16_t loopIndex = 0;  // the loop that parked it (the process runs loop 0)
    std::uint16_t messageLength = 0;
    std::array<char, maxSigningInputLength> message{};
    Signature signature{};
    PublicKey publicKey{};
};

// The job for `receipt`, to complete parked-request slot `slot`.
[[nodiscard]] inline VerifyJob makeVerifyJob(const Receipt& receipt, std::uint64_t slot,
                                             std::uint16_t loopIndex) {
    VerifyJob job;
    job.slot = slot;
    job.loopIndex = loopIndex;
    job.messageLength = receipt.signingInputLength;
    job.message = receipt.signingInput;
    job.signature = receipt.signature;
    job.publicKey = receipt.publicKey;
    return job;
}

}  // namespace vorn
