#pragma once

#include <cstdint>

namespace vorn::test {

// A TCP port on 127.0.0.1 that was free a moment ago: the kernel picks it for
// a socket bound to port 0, which is then closed. 0 (and a test failure) when
// no socket could be bound.
[[nodiscard]] std::uint16_t freeTcpPort();

}  // namespace vorn::test
