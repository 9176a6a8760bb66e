#pragma once

#include <array>
#include <cstdint>
#include <cstdlib>
#include <expected>
#include <memory>

#include "common/error.hpp"
#include "common/receipt_status.hpp"
#include "token/receipt.hpp"

namespace vorn {

// What the book says about a receipt: a final status, or that its signature
// has to be checked first (the caller then parks the request, or answers
// overload when it cannot).
struct BookAnswer {
    bool needsCheck = false;
    ReceiptStatus status = ReceiptStatus::none;  // when !needsCheck
};

// Remembers every recent receipt by jti: the exact token first seen with it
// (fingerprint), whether its signature checked out, and its use in a sliding
// ten-minute window and by client address, so that a receipt shared too
// widely is revoked and each signature is checked once. Times are whole
// seconds, passed in. All memory is reserved at creation; lookups and
// completions allocate nothing. Belongs to the loop thread.
class ReceiptBook {
public:
    static constexpr std::uint32_t capacity = 100000;

    // maxRequests: uses allowed per sliding ten minutes; maxIps (1-7):
    // distinct client addresses allowed per ten minutes (InvalidArgument
    // otherwise). OutOfMemory when the tables cannot be reserved.
    [[nodiscard]] static std::expected<ReceiptBook, Error> create(std::uint32_t maxRequests,
                                                                  std::uint8_t maxIps);

    // For a receipt that passed every check but its signature. ipHash is 0
    // for an empty client address. A new jti is entered pending and needs a
    // check; a known one answers from its entry (bad for a different token
    // with the same jti). overload when the book is full of live entries.
    [[nodiscard]] BookAnswer lookup(const Jti& jti, std::uint64_t fingerprint, std::int64_t exp,
                                    std::uint64_t ipHash, std::int64_t now);

    // Applies a finished signature check and judges this use: valid,
    // revoked, or bad (signature wrong, or the entry swept or replaced
    // meanwhile).
    [[nodiscard]] ReceiptStatus complete(const Jti& jti, std::uint64_t fingerprint, bool ok,
                                         std::uint64_t ipHash, std::int64_t now);

    [[nodiscard]] std::uint32_t entries() const { return entries_; }
    [[nodiscard]] std::uint64_t revokedTotal() const { return revokedTotal_; }

private:
    enum class State : std::uint8_t { unused, pending, verified, bad, revoked };

    static constexpr std::size_t addressSlots = 8;
    static constexpr std::size_t indexSize = std::size_t{1} << 18;

    struct Entry {
        Jti jti;
        State state;
        std::uint32_t current;
        std::uint32_t previous;
        std::uint64_t fingerprint;
        std::int64_t exp;
        std::int64_t windowStart;
        std::array<std::uint64_t, addressSlots> ipHash;
        std::array<std::int64_t, addressSlots> ipLastSeen;
    };

    struct Free {
        void operator()(void* memory) const { std::free(memory); }
    };

    ReceiptBook(std::uint32_t maxRequests, std::uint8_t maxIps, std::uint64_t seed,
                std::unique_ptr<Entry[], Free> table, std::unique_ptr<std::uint32_t[], Free> index,
                std::unique_ptr<std::uint32_t[], Free> freeStack);

    [[nodiscard]] std::size_t home(const Jti& jti) const;
    [[nodiscard]] std::size_t findSlot(const Jti& jti) const;  // index slot, or indexSize
    [[nodiscard]] Entry* find(const Jti& jti);
    void insert(const Jti& jti, std::uint64_t fingerprint, std::int64_t exp);
    void remove(std::uint32_t number);
    void sweep(std::int64_t now, bool dropBad);
    [[nodiscard]] bool admit(Entry& entry, std::uint64_t ipHash, std::int64_t now);
    [[nodiscard]] bool admitAddress(Entry& entry, std::uint64_t ipHash, std::int64_t now) const;
    [[nodiscard]] bool withinRequestLimit(Entry& entry, std::int64_t now) const;
    [[nodiscard]] bool revoke(Entry& entry);
    void setState(Entry& entry, State state);

    std::uint32_t maxRequests_;
    std::uint8_t maxIps_;
    std::uint64_t seed_;  // random: the jti comes from the client, so its home must not be chosen
    // Entries live in `table_`, handed out from the front; `index_` is an
    // open-addressing map from a jti's hash to entry number + 1 (0: empty).
    // Both come from calloc, which the kernel backs lazily: a book holding a
    // few receipts touches a few pages, not the whole reserve. Dense entries
    // keep that true for the big table; the index, 4 bytes a slot at a load
    // of at most 0.38, stays small. Removal shifts later slots of the probe
    // run back (no tombstones), so lookups stay short however long the book
    // runs.
    std::unique_ptr<Entry[], Free> table_;
    std::unique_ptr<std::uint32_t[], Free> index_;
    std::unique_ptr<std::uint32_t[], Free> freeStack_;  // numbers of removed entries
    std::uint32_t freeCount_ = 0;
    std::uint32_t used_ = 0;  // entry numbers handed out so far; the rest are untouched
    std::uint32_t entries_ = 0;
    std::uint32_t badEntries_ = 0;
    std::int64_t lastSweep_ = 0;
    std::uint64_t revokedTotal_ = 0;
};

}  // namespace vorn
