#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include "common/nanos.hpp"
#include "common/parking.hpp"
#include "decision/decision.hpp"
#include "token/receipt.hpp"

namespace vorn {

// A request parked while its receipt's signature is checked: what finishing
// it later needs. The address and path are copies (the NOTIFY is gone by
// then), cut to 64 and 256 bytes; the receipt is kept whole, so that the
// book can enter it and a key replaced meanwhile can be checked again.
struct PendingRequest {
    static constexpr std::size_t ipCapacity = 64;
    static constexpr std::size_t pathCapacity = 256;

    // A slot is taken from parking until the ACK has been appended: first
    // its check is out, then its answer waits for room in the output.
    enum class Stage : std::uint8_t { checking, answered };

    bool inUse = false;
    Stage stage = Stage::checking;
    bool connectionGone = false;  // its connection closed while checking: finish silently
    Nanos arrival = 0;
    Decision decision;
    std::optional<double> score;
    std::uint64_t ipHash = 0;
    Receipt receipt;
    std::array<char, ipCapacity> ip{};
    std::array<char, pathCapacity> path{};
    std::uint8_t ipLength = 0;
    std::uint16_t pathLength = 0;

    void keepText(std::string_view ipText, std::string_view pathText);
    [[nodiscard]] std::string_view ipText() const { return {ip.data(), ipLength}; }
    [[nodiscard]] std::string_view pathText() const { return {path.data(), pathLength}; }
};

// The parking slots and their free stack: slot 0 is taken first, and a
// released slot is the next one taken. Belongs to the loop thread.
class PendingRequests {
public:
    static constexpr std::uint16_t capacity = parkingCapacity;

    PendingRequests();

    // A free slot, marked in use and checking, or nothing when all are
    // taken.
    [[nodiscard]] std::optional<std::uint16_t> take();
    void release(std::uint16_t slot);

    [[nodiscard]] PendingRequest& operator[](std::uint16_t slot) { return slots_[slot]; }
    [[nodiscard]] std::uint32_t parked() const { return capacity - freeCount_; }

private:
    std::array<PendingRequest, capacity> slots_{};
    std::array<std::uint16_t, capacity> free_{};
    std::uint16_t freeCount_ = capacity;
};

}  // namespace vorn
