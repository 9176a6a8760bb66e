#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

#include "common/nanos.hpp"
#include "common/receipt_status.hpp"
#include "common/verdict.hpp"

namespace vorn {

// What the agent answers to one NOTIFY; the SPOP handler encodes it as the
// ACK's variables. The default is the bare pass given to a NOTIFY without
// the agent's message.
struct NotifyReply {
    static constexpr std::size_t difficultyCapacity = 32;

    Verdict verdict = Verdict::pass;
    // vorn_difficulty, sent when not empty.
    std::array<char, difficultyCapacity> difficulty{};
    std::uint8_t difficultyLength = 0;
    // vorn_receipt, sent when not none.
    ReceiptStatus receipt = ReceiptStatus::none;
    // The request waits in this parking slot: there is no answer yet; it
    // comes later, for the same slot.
    std::optional<std::uint16_t> parkedSlot;
    // When the request arrived, for the time until its ACK is appended;
    // unset for the bare pass, which is not timed.
    std::optional<Nanos> arrival;
    // The answer of a request that waited in this slot, which stays taken
    // until the ACK is appended.
    std::optional<std::uint16_t> waitedInSlot;

    [[nodiscard]] std::string_view difficultyText() const {
        return {difficulty.data(), difficultyLength};
    }
};

}  // namespace vorn
