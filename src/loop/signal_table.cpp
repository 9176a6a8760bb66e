#include "loop/signal_table.hpp"

#include <array>
#include <cerrno>
#include <mutex>

namespace vorn::signal_table {

namespace {

struct Entry {
    int signal;
    struct sigaction saved;
    int ownerQueue;
    bool installed;
};

std::mutex tableMutex;
// Guarded by tableMutex.
std::array<Entry, 5> entries = {{
    {SIGINT, {}, -1, false},
    {SIGTERM, {}, -1, false},
    {SIGHUP, {}, -1, false},
    {SIGUSR1, {}, -1, false},
    {SIGUSR2, {}, -1, false},
}};

Entry* entryFor(int signal) {
    for (Entry& entry : entries) {
        if (entry.signal == signal) return &entry;
    }
    return nullptr;
}

}  // namespace

std::expected<void, Error> watch(kev::Kqueue& queue, int signal) {
    std::lock_guard lock(tableMutex);
    Entry* entry = entryFor(signal);
    if (entry == nullptr) return std::unexpected(Error::Unexpected);
    if (entry->installed && entry->ownerQueue != queue.descriptor()) {
        return std::unexpected(Error::SignalInUse);
    }
    kev::Change change{static_cast<std::uintptr_t>(signal), kev::Filter::signal,
                       kev::add | kev::clear, 0, nullptr};
    std::expected<void, int> submitted;
    do {
        submitted = queue.submit({&change, 1});
    } while (!submitted && submitted.error() == EINTR);
    if (!submitted) return std::unexpected(Error::SystemResources);
    if (!entry->installed) {
        if (!queue.ignoreSignal(signal, entry->saved))
            return std::unexpected(Error::SystemResources);
        entry->ownerQueue = queue.descriptor();
        entry->installed = true;
    }
    return {};
}

void restore(kev::Kqueue& queue, int signal) {
    std::lock_guard lock(tableMutex);
    Entry* entry = entryFor(signal);
    if (entry == nullptr || !entry->installed || entry->ownerQueue != queue.descriptor()) return;
    queue.restoreSignal(signal, entry->saved);
    entry->installed = false;
    entry->ownerQueue = -1;
}

}  // namespace vorn::signal_table
