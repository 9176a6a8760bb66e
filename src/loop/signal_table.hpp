#pragma once

#include <csignal>
#include <expected>

#include "common/error.hpp"
#include "loop/kevent.hpp"

namespace vorn {

// Process-wide record of the signals a loop watches through its queue, with
// the dispositions they had before. Only SIGHUP is ever watched.
namespace signal_table {

// Registers `signal` with the queue at once and makes it an event instead of
// a signal. SignalInUse when another queue watches it already;
// SystemResources when the registration fails.
[[nodiscard]] std::expected<void, Error> watch(kev::Kqueue& queue, int signal);

// Puts back the disposition of `signal` if `queue` owns its entry.
void restore(kev::Kqueue& queue, int signal);

}  // namespace signal_table

}  // namespace vorn
