#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <expected>

#include "common/enum_names.hpp"
#include "common/error.hpp"
#include "common/nanos.hpp"
#include "common/path_class.hpp"
#include "decision/address_table.hpp"

namespace vorn {

// Path classes that share one heat state.
enum class ClassGroup : std::uint8_t { expensive, actions, general, tracker };

inline constexpr std::size_t classGroupCount = 4;

[[nodiscard]] constexpr ClassGroup classGroupOf(PathClass pathClass) {
    switch (pathClass) {
        case PathClass::expensive:
            return ClassGroup::expensive;
        case PathClass::actions:
            return ClassGroup::actions;
        case PathClass::tracker:
            return ClassGroup::tracker;
        default:
            return ClassGroup::general;
    }
}

// Requests of one class in the window above which its group turns hot; 0
// means never hot.
[[nodiscard]] constexpr std::uint32_t groupThreshold(ClassGroup group) {
    constexpr std::array<std::uint32_t, classGroupCount> thresholds = {1500, 600, 0, 300};
    return thresholds[indexOf(group)];
}

// Per path class, the requests counted in the last ten minutes (sixty
// ten-second slots) and the distinct client addresses that sent them; per
// group, until when it is hot. The windows move only when a request is
// counted, never with the clock alone. The address tables share a memory
// budget fixed at creation, in equal parts. Belongs to the loop thread.
class ClassWindows {
public:
    static constexpr std::size_t slotCount = 60;
    static constexpr Nanos slotWidth = 10 * nanosPerSecond;
    static constexpr Nanos windowWidth = slotCount * slotWidth;
    static constexpr Nanos heatDuration = 20 * nanosPerSecond;
    static_assert(slotCount == AddressTable::windowSlots);

    // Places in each class's address table for a budget of
    // `addressMemoryBytes` over all eleven.
    [[nodiscard]] static constexpr std::size_t addressSlotsFor(std::uint64_t addressMemoryBytes) {
        return static_cast<std::size_t>(addressMemoryBytes / pathClassCount /
                                        AddressTable::bytesPerSlot);
    }

    // Empty windows whose address tables share `addressMemoryBytes`.
    // OutOfMemory when the tables cannot be reserved.
    [[nodiscard]] static std::expected<ClassWindows, Error> create(
        std::uint64_t addressMemoryBytes);

    // Ages the windows to `t` and counts one request of `pathClass`; a
    // non-zero `ipHash` is recorded as seen at `t`, unless the class's table
    // is full and it is new.
    void countRequest(PathClass pathClass, std::uint64_t ipHash, Nanos t);

    // Whether the class's group is hot at `t`, starting its heat when the
    // class's count is above the group threshold. Call after countRequest.
    [[nodiscard]] bool evaluateHeat(PathClass pathClass, Nanos t);

    // Whether the class's group is hot at `now`, without starting heat.
    [[nodiscard]] bool groupHotNow(PathClass pathClass, Nanos now) const;

    // Whether any group is hot at `now`.
    [[nodiscard]] bool anyGroupHot(Nanos now) const;

    // Requests of the class in the window as it stands.
    [[nodiscard]] std::uint64_t classRate(PathClass pathClass) const;

    // Distinct address hashes of the class in the window as it stands; once
    // its table has been full, a floor.
    [[nodiscard]] std::uint64_t classDistinctIps(PathClass pathClass) const;

    // The class's address table: the most addresses it holds, and the new
    // addresses it could not record since start-up.
    [[nodiscard]] std::uint64_t addressCapacity(PathClass pathClass) const;
    [[nodiscard]] std::uint64_t addressesDropped(PathClass pathClass) const;

    // The expensive class's share of all counted requests; 0 when none.
    [[nodiscard]] double expensiveShare() const;

    // Whether a request has been counted since start-up.
    [[nodiscard]] bool started() const { return started_; }

private:
    ClassWindows() = default;

    void age(Nanos t);
    void shiftSlots(std::size_t places);

    bool started_ = false;
    Nanos epoch_ = 0;  // start of slot 59, a multiple of the slot width
    std::array<std::array<std::uint32_t, slotCount>, pathClassCount> slots_{};
    std::array<AddressTable, pathClassCount> addresses_;
    // Heat that never started ended long ago, also for a clock set before 1970.
    static constexpr Nanos longAgo = -(Nanos{1} << 126);
    std::array<Nanos, classGroupCount> groupHotUntil_{longAgo, longAgo, longAgo, longAgo};
};

}  // namespace vorn
