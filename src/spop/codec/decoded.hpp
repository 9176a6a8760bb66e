#pragma once

#include <cstddef>

namespace vorn {

// What a decoder read from the start of its input, and how many bytes it
// took to read it.
template <typename T>
struct Decoded {
    T value;
    std::size_t size;
};

}  // namespace vorn
