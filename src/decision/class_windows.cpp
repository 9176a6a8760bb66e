#include "decision/class_windows.hpp"

#include <algorithm>
#include <limits>
#include <numeric>
#include <utility>

namespace vorn {

namespace {

std::int64_t slotNumber(Nanos epoch) {
    return static_cast<std::int64_t>(epoch / ClassWindows::slotWidth);
}

}  // namespace

std::expected<ClassWindows, Error> ClassWindows::create(std::uint64_t addressMemoryBytes) {
    ClassWindows windows;
    for (AddressTable& table : windows.addresses_) {
        auto created = AddressTable::create(addressSlotsFor(addressMemoryBytes));
        if (!created) return std::unexpected(created.error());
        table = std::move(*created);
    }
    return windows;
}

// Moves every class row `places` slots toward slot 0 and zeroes the slots
// that opened at the top. `places` is 1 to 59.
void ClassWindows::shiftSlots(std::size_t places) {
    for (auto& row : slots_) {
        std::copy(row.begin() + places, row.end(), row.begin());
        std::fill(row.end() - places, row.end(), 0);
    }
}

// Brings the windows to `t`: starts them, clears them after a gap of a whole
// window, or shifts whole slots. A clock that went back leaves them alone.
// Addresses expire with the slot of their latest request, in the tables'
// counts at once and from their places over the following requests.
void ClassWindows::age(Nanos t) {
    if (!started_) {
        started_ = true;
        epoch_ = floorDiv(t, slotWidth) * slotWidth;
        for (AddressTable& table : addresses_) table.startAt(slotNumber(epoch_));
        return;
    }
    Nanos elapsed = t - epoch_;
    if (elapsed < slotWidth) return;
    Nanos places = elapsed / slotWidth;
    epoch_ += places * slotWidth;
    for (AddressTable& table : addresses_) table.advanceTo(slotNumber(epoch_));
    if (elapsed >= windowWidth) {
        for (auto& row : slots_) row.fill(0);
        return;
    }
    shiftSlots(static_cast<std::size_t>(places));
}

void ClassWindows::countRequest(PathClass pathClass, std::uint64_t ipHash, Nanos t) {
    age(t);
    std::uint32_t& current = slots_[indexOf(pathClass)].back();
    if (current < std::numeric_limits<std::uint32_t>::max()) ++current;
    // A new address that finds the table full is not recorded; the request
    // still counts, unattributed.
    AddressTable& table = addresses_[indexOf(pathClass)];
    if (ipHash != 0) table.record(ipHash);
    table.sweep();
}

bool ClassWindows::evaluateHeat(PathClass pathClass, Nanos t) {
    ClassGroup group = classGroupOf(pathClass);
    Nanos& hotUntil = groupHotUntil_[indexOf(group)];
    if (t < hotUntil) return true;
    std::uint32_t threshold = groupThreshold(group);
    if (threshold == 0 || classRate(pathClass) <= threshold) return false;
    hotUntil = t + heatDuration;
    return true;
}

bool ClassWindows::groupHotNow(PathClass pathClass, Nanos now) const {
    return started_ && now < groupHotUntil_[indexOf(classGroupOf(pathClass))];
}

bool ClassWindows::anyGroupHot(Nanos now) const {
    return started_ &&
           std::ranges::any_of(groupHotUntil_, [now](Nanos hotUntil) { return now < hotUntil; });
}

std::uint64_t ClassWindows::classRate(PathClass pathClass) const {
    const auto& row = slots_[indexOf(pathClass)];
    return std::accumulate(row.begin(), row.end(), std::uint64_t{0});
}

std::uint64_t ClassWindows::classDistinctIps(PathClass pathClass) const {
    return addresses_[indexOf(pathClass)].entries();
}

std::uint64_t ClassWindows::addressCapacity(PathClass pathClass) const {
    return addresses_[indexOf(pathClass)].capacity();
}

std::uint64_t ClassWindows::addressesDropped(PathClass pathClass) const {
    return addresses_[indexOf(pathClass)].dropped();
}

double ClassWindows::expensiveShare() const {
    std::uint64_t total = 0;
    for (std::size_t i = 0; i < pathClassCount; ++i) total += classRate(static_cast<PathClass>(i));
    if (total == 0) return 0.0;
    return static_cast<double>(classRate(PathClass::expensive)) / static_cast<double>(total);
}

}  // namespace vorn
