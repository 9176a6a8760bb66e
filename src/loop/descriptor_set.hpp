#pragma once

#include <cstddef>
#include <cstdint>

namespace vorn {

// A set of descriptors, one bit each: descriptors are small numbers bounded
// by the process's limit. Grows without throwing.
class DescriptorSet {
public:
    DescriptorSet() = default;
    ~DescriptorSet();
    DescriptorSet(const DescriptorSet&) = delete;
    DescriptorSet& operator=(const DescriptorSet&) = delete;

    // False only when the set had to grow and could not.
    [[nodiscard]] bool insert(int fd);
    // Returns whether the descriptor was in the set.
    bool erase(int fd);
    [[nodiscard]] bool contains(int fd) const;

private:
    std::uint64_t* words_ = nullptr;
    std::size_t wordCount_ = 0;
};

}  // namespace vorn
