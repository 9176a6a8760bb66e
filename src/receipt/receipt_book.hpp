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

// Remembers recent receipts by jti once their signature has been checked:
// the exact token first checked with it (fingerprint), the key it was
// checked under and the result, and its use in a sliding ten-minute window
// and by client address, so that a receipt shared too widely is revoked and
// each signature is checked once. Nothing enters before its check, so a
// flood of tokens that are never checked leaves nothing behind. A full book
// makes room for a new entry: bad entries go first, then the verified entry
// used least recently, and revoked ones last, so that flooding the book
// cannot wash a revocation out while anything else is left. Expired entries
// are dropped a few at a time. Times are whole seconds, passed in. All
// memory is reserved at creation; nothing allocates afterwards. Belongs to
// the loop thread.
class ReceiptBook {
public:
    static constexpr std::uint32_t capacity = 100000;

    // maxRequests: uses allowed per sliding ten minutes; maxIps (1-7):
    // distinct client addresses allowed per ten minutes (InvalidArgument
    // otherwise). OutOfMemory when the tables cannot be reserved.
    [[nodiscard]] static std::expected<ReceiptBook, Error> create(std::uint32_t maxRequests,
                                                                  std::uint8_t maxIps);

    // For a receipt that passed every check but its signature, under the
    // key it names now. ipHash is 0 for an empty client address. A receipt
    // checked before under the same key answers from its entry (its use
    // counted when it verified), a revoked one under any key, and another
    // token with a known jti is bad; anything else needs a check.
    [[nodiscard]] BookAnswer lookup(const Receipt& receipt, std::uint64_t ipHash, std::int64_t now);

    // Enters the finished signature check of `receipt` (under the key it
    // carries) and judges this use: valid, revoked, or bad (signature wrong,
    // or another token already entered with this jti).
    [[nodiscard]] ReceiptStatus complete(const Receipt& receipt, bool ok, std::uint64_t ipHash,
                                         std::int64_t now);

    [[nodiscard]] std::uint32_t entries() const { return entries_; }
    [[nodiscard]] std::uint64_t revokedTotal() const { return revokedTotal_; }

private:
    // Each state but unused (what calloc leaves) has a queue, oldest first;
    // the queues are also the order in which entries give way when the book
    // is full.
    enum class State : std::uint8_t { unused, bad, verified, revoked };
    static constexpr std::size_t queueCount = 3;

    static constexpr std::size_t addressSlots = 8;
    static constexpr std::size_t indexSize = std::size_t{1} << 18;
    static constexpr std::uint32_t none = UINT32_MAX;

    struct Entry {
        Jti jti;
        State state;
        std::uint32_t current;
        std::uint32_t previous;
        std::uint32_t older;  // neighbours in its state's queue, or none
        std::uint32_t newer;
        std::uint64_t fingerprint;
        std::uint64_t keyDigest;
        std::int64_t exp;
        std::int64_t windowStart;
        std::array<std::uint64_t, addressSlots> ipHash;
        std::array<std::int64_t, addressSlots> ipLastSeen;
    };

    struct Queue {
        std::uint32_t oldest = none;
        std::uint32_t newest = none;
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
    [[nodiscard]] Entry& insert(const Receipt& receipt, State state);
    void remove(std::uint32_t number);
    void makeRoom();
    void sweepSome(std::int64_t now);

    [[nodiscard]] std::uint32_t numberOf(const Entry& entry) const;
    [[nodiscard]] Queue& queueOf(State state);
    void enqueue(Entry& entry, State state);
    void dequeue(Entry& entry);
    void setState(Entry& entry, State state);

    [[nodiscard]] bool admit(Entry& entry, std::uint64_t ipHash, std::int64_t now);
    [[nodiscard]] bool admitAddress(Entry& entry, std::uint64_t ipHash, std::int64_t now) const;
    [[nodiscard]] bool withinRequestLimit(Entry& entry, std::int64_t now) const;
    [[nodiscard]] bool revoke(Entry& entry);

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
    std::array<Queue, queueCount> queues_{};
    // The expiry walk: the next entry number to look at, how many entries
    // it may still look at, and when it last earned more.
    std::uint32_t sweepCursor_ = 0;
    std::uint64_t sweepBudget_ = 0;
    std::int64_t sweepClock_ = 0;
    std::uint64_t revokedTotal_ = 0;
};

}  // namespace vorn
