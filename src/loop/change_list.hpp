#pragma once

#include <cstddef>
#include <span>

#include "loop/kevent.hpp"

namespace vorn {

// Kernel-event changes queued for the loop's next wait. Grows without
// throwing; a failed growth is reported to the caller.
class ChangeList {
public:
    ChangeList() = default;
    ~ChangeList();
    ChangeList(const ChangeList&) = delete;
    ChangeList& operator=(const ChangeList&) = delete;

    [[nodiscard]] bool reserve(std::size_t capacity);
    // False when the list could not grow; the change is then lost.
    [[nodiscard]] bool append(const kev::Change& change);
    void clear() { size_ = 0; }

    // Drops every queued read or write change of a descriptor about to close.
    void removeDescriptor(int fd);
    void removeSignal(int signal);

    [[nodiscard]] std::span<const kev::Change> view() const { return {items_, size_}; }

private:
    template <typename Predicate>
    void removeIf(Predicate predicate);

    kev::Change* items_ = nullptr;
    std::size_t size_ = 0;
    std::size_t capacity_ = 0;
};

}  // namespace vorn
