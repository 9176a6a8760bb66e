#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

#include "common/receipt_status.hpp"
#include "common/verdict.hpp"

namespace vorn {

// What the agent answers to one NOTIFY; the SPOP handler encodes it as the
// ACK's variables. The default is the bare pass given to a NOTIFY without
// the agent's message. A parked request has no answer yet: it comes later,
// for the same slot.
struct NotifyReply {
    static constexpr std::size_t difficultyCapacity = 32;

    Verdict verdict = Verdict::pass;
    // vorn_difficulty, sent when not empty.
    std::array<char, difficultyCapacity> difficulty{};
    std::uint8_t difficultyLength = 0;
    // vorn_receipt, sent when not none.
    ReceiptStatus receipt = ReceiptStatus::none;
    std::optional<std::uint16_t> parkedSlot;

    [[nodiscard]] std::string_view difficultyText() const {
        return {difficulty.data(), difficultyLength};
    }
};

}  // namespace vorn
