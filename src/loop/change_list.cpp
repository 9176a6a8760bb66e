#include "loop/change_list.hpp"

#include <cstdlib>

namespace vorn {

ChangeList::~ChangeList() {
    std::free(items_);
}

bool ChangeList::reserve(std::size_t capacity) {
    if (capacity <= capacity_) return true;
    void* grown = std::realloc(static_cast<void*>(items_), capacity * sizeof(kev::Change));
    if (grown == nullptr) return false;
    items_ = static_cast<kev::Change*>(grown);
    capacity_ = capacity;
    return true;
}

bool ChangeList::append(const kev::Change& change) {
    if (size_ == capacity_ && !reserve(capacity_ == 0 ? 64 : capacity_ * 2)) return false;
    items_[size_++] = change;
    return true;
}

template <typename Predicate>
void ChangeList::removeIf(Predicate predicate) {
    std::size_t kept = 0;
    for (std::size_t i = 0; i < size_; ++i) {
        if (!predicate(items_[i])) items_[kept++] = items_[i];
    }
    size_ = kept;
}

void ChangeList::removeDescriptor(int fd) {
    removeIf([fd](const kev::Change& c) {
        return c.ident == static_cast<std::uintptr_t>(fd) &&
               (c.filter == kev::Filter::read || c.filter == kev::Filter::write);
    });
}

void ChangeList::removeSignal(int signal) {
    removeIf([signal](const kev::Change& c) {
        return c.ident == static_cast<std::uintptr_t>(signal) && c.filter == kev::Filter::signal;
    });
}

}  // namespace vorn
