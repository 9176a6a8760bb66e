#pragma once

#include <cstdint>

namespace vorn {

// Where a verification worker hands a finished check: the event loop's
// completion queue. Called from worker threads; an implementation does its
// own locking and waking, and must not block for long.
class CompletionSink {
public:
    virtual void post(std::uint64_t slot, bool ok) = 0;

protected:
    ~CompletionSink() = default;
};

}  // namespace vorn
