#pragma once

#include <cassert>

namespace vorn {

// The links a record carries for one list it can be on.
struct ListLink {
    void* prev = nullptr;
    void* next = nullptr;
    bool linked = false;
};

// A doubly linked list threaded through the records themselves, so that
// putting a record on a list or taking it off never allocates. `Link` names
// the record's member that this list uses; a record is on at most one list
// per link. Belongs to whoever owns the records.
template <typename T, ListLink T::*Link>
class IntrusiveList {
public:
    [[nodiscard]] bool empty() const { return head_ == nullptr; }
    [[nodiscard]] T* front() const { return static_cast<T*>(head_); }
    [[nodiscard]] static T* next(const T& item) { return static_cast<T*>((item.*Link).next); }

    void pushBack(T& item) {
        ListLink& link = item.*Link;
        assert(!link.linked);
        link = {tail_, nullptr, true};
        (tail_ != nullptr ? (static_cast<T*>(tail_)->*Link).next : head_) = &item;
        tail_ = &item;
    }

    void pushFront(T& item) {
        ListLink& link = item.*Link;
        assert(!link.linked);
        link = {nullptr, head_, true};
        (head_ != nullptr ? (static_cast<T*>(head_)->*Link).prev : tail_) = &item;
        head_ = &item;
    }

    // Takes `item` off the list; it must be on it.
    void remove(T& item) {
        ListLink& link = item.*Link;
        assert(link.linked);
        auto* prev = static_cast<T*>(link.prev);
        auto* next = static_cast<T*>(link.next);
        (prev != nullptr ? (prev->*Link).next : head_) = next;
        (next != nullptr ? (next->*Link).prev : tail_) = prev;
        link = {};
    }

    [[nodiscard]] T* popFront() {
        T* first = front();
        if (first != nullptr) remove(*first);
        return first;
    }

private:
    // Untyped, like the links, so that head and links are written alike.
    void* head_ = nullptr;
    void* tail_ = nullptr;
};

}  // namespace vorn
