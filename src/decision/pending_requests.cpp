#include "decision/pending_requests.hpp"

#include <algorithm>
#include <cassert>

namespace vorn {

void PendingRequest::keepText(std::string_view ipText, std::string_view pathText) {
    ipLength = static_cast<std::uint8_t>(std::min(ipText.size(), ipCapacity));
    std::copy_n(ipText.begin(), ipLength, ip.begin());
    pathLength = static_cast<std::uint16_t>(std::min(pathText.size(), pathCapacity));
    std::copy_n(pathText.begin(), pathLength, path.begin());
}

// The stack's top is its end: fill it so that slot 0 comes off first.
PendingRequests::PendingRequests() {
    for (std::uint16_t i = 0; i < capacity; ++i) free_[i] = capacity - 1 - i;
}

std::optional<std::uint16_t> PendingRequests::take() {
    if (freeCount_ == 0) return std::nullopt;
    std::uint16_t slot = free_[--freeCount_];
    slots_[slot].inUse = true;
    slots_[slot].stage = PendingRequest::Stage::checking;
    slots_[slot].connectionGone = false;
    return slot;
}

void PendingRequests::release(std::uint16_t slot) {
    assert(slots_[slot].inUse && freeCount_ < capacity);
    slots_[slot].inUse = false;
    free_[freeCount_++] = slot;
}

}  // namespace vorn
