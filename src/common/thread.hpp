#pragma once

#include <pthread.h>

#include <expected>

#include "common/error.hpp"

namespace vorn {

// Starts a thread the way every thread of the daemon is started: a 16 MiB
// stack, a 4 KiB guard area, and every signal blocked, so that signals are
// only ever seen by the event loop. Fails with SystemResources when the
// system lacks the resources, Unexpected otherwise.
[[nodiscard]] std::expected<pthread_t, Error> startThread(void* (*body)(void*), void* argument);

}  // namespace vorn
