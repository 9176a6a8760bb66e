#pragma once

#include <cstdint>

namespace vorn {

// Requests that may wait at once for a receipt signature check: the
// decision's parking slots, the SPOP handler's parked NOTIFYs and the loop's
// ring of finished checks all hold this many, so none of them can overflow
// while another has room.
inline constexpr std::uint16_t parkingCapacity = 1024;

}  // namespace vorn
