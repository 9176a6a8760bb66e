#include "loop/descriptor_set.hpp"

#include <cstdlib>
#include <cstring>

namespace vorn {

DescriptorSet::~DescriptorSet() {
    std::free(words_);
}

bool DescriptorSet::insert(int fd) {
    auto word = static_cast<std::size_t>(fd) / 64;
    if (word >= wordCount_) {
        std::size_t count = wordCount_ == 0 ? 16 : wordCount_;
        while (count <= word) count *= 2;
        void* grown = std::realloc(static_cast<void*>(words_), count * sizeof(std::uint64_t));
        if (grown == nullptr) return false;
        words_ = static_cast<std::uint64_t*>(grown);
        std::memset(words_ + wordCount_, 0, (count - wordCount_) * sizeof(std::uint64_t));
        wordCount_ = count;
    }
    words_[word] |= std::uint64_t{1} << (fd % 64);
    return true;
}

bool DescriptorSet::erase(int fd) {
    if (!contains(fd)) return false;
    words_[static_cast<std::size_t>(fd) / 64] &= ~(std::uint64_t{1} << (fd % 64));
    return true;
}

bool DescriptorSet::contains(int fd) const {
    auto word = static_cast<std::size_t>(fd) / 64;
    return fd >= 0 && word < wordCount_ && (words_[word] >> (fd % 64) & 1) != 0;
}

}  // namespace vorn
