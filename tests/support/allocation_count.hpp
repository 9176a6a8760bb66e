#pragma once

#include <cstddef>

namespace vorn::test {

// Heap allocations made through operator new by any thread since the
// program started; the test binary replaces the global operator new.
[[nodiscard]] std::size_t allocationCount();

}  // namespace vorn::test
