#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>

#include "gate/expiring_table.hpp"

namespace vorn {

// How many challenges each client (see clientKey) has open: issued and
// neither answered nor expired. The limit is applied when a page is issued,
// before any work is asked for, so that nobody does work only to have the
// answer refused. The count is kept as a load that drains at `perClient`
// per lifetime, so a client that was at the limit gets one more challenge
// every lifetime/perClient; a good answer closes one at once. A client holds
// at most twice `perClient` nonces that can still be answered (its limit,
// and what drained meanwhile). Times are milliseconds on the steady clock.
// Shared by the worker threads.
class ClientLimits {
public:
    enum class Admission : std::uint8_t {
        admitted,
        limited,
        // Admitted, but not counted: every entry of the table is in use, by
        // clients with challenges open.
        untracked,
    };

    ClientLimits(std::size_t capacity, std::uint32_t perClient, std::int64_t lifetimeSeconds);

    // Counts one challenge issued to `client`, unless it has `perClient`
    // open already.
    [[nodiscard]] Admission admit(const TableKey& client, std::int64_t nowMillis);

    // `client` answered one of its challenges.
    void answered(const TableKey& client, std::int64_t nowMillis);

    // Clients held, some perhaps expired and not dropped yet.
    [[nodiscard]] std::size_t tracked() const;

private:
    struct Load {
        std::int64_t units = 0;  // open challenges x lifetime in milliseconds
        std::int64_t since = 0;  // when it was last drained
    };

    // Drains `load` to `nowMillis` and returns the second by which it will
    // have drained away.
    std::int64_t drain(Load& load, std::int64_t nowMillis) const;

    const std::int64_t perClient_;
    const std::int64_t lifetimeMillis_;
    mutable std::mutex mutex_;  // guards table_
    ExpiringTable<Load> table_;
};

}  // namespace vorn
