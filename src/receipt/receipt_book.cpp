#include "receipt/receipt_book.hpp"

#include <sodium.h>

#include <algorithm>

#include "common/wyhash.hpp"

namespace vorn {

namespace {

constexpr std::int64_t window = 600;           // the sliding window, and an address's life
constexpr std::int64_t sweepPeriod = 60;       // seconds for the expiry walk to cover the book
constexpr std::uint64_t sweepStepLimit = 512;  // entries it looks at per call, at most
constexpr std::size_t indexMask = (std::size_t{1} << 18) - 1;

// Cyclic distance from index slot `from` forward to `to`.
std::size_t distance(std::size_t from, std::size_t to) {
    return (to - from) & indexMask;
}

}  // namespace

std::expected<ReceiptBook, Error> ReceiptBook::create(std::uint32_t maxRequests,
                                                      std::uint8_t maxIps) {
    static_assert(indexSize == indexMask + 1 && indexSize > 2 * capacity);
    if (maxIps == 0 || maxIps >= addressSlots) return std::unexpected(Error::InvalidArgument);
    std::unique_ptr<Entry[], Free> table(static_cast<Entry*>(std::calloc(capacity, sizeof(Entry))));
    std::unique_ptr<std::uint32_t[], Free> index(
        static_cast<std::uint32_t*>(std::calloc(indexSize, sizeof(std::uint32_t))));
    std::unique_ptr<std::uint32_t[], Free> freeStack(
        static_cast<std::uint32_t*>(std::calloc(capacity, sizeof(std::uint32_t))));
    if (!table || !index || !freeStack) return std::unexpected(Error::OutOfMemory);
    std::uint64_t seed = 0;
    randombytes_buf(&seed, sizeof seed);
    return ReceiptBook(maxRequests, maxIps, seed, std::move(table), std::move(index),
                       std::move(freeStack));
}

ReceiptBook::ReceiptBook(std::uint32_t maxRequests, std::uint8_t maxIps, std::uint64_t seed,
                         std::unique_ptr<Entry[], Free> table,
                         std::unique_ptr<std::uint32_t[], Free> index,
                         std::unique_ptr<std::uint32_t[], Free> freeStack)
    : maxRequests_(maxRequests),
      maxIps_(maxIps),
      seed_(seed),
      table_(std::move(table)),
      index_(std::move(index)),
      freeStack_(std::move(freeStack)) {}

std::size_t ReceiptBook::home(const Jti& jti) const {
    std::string_view bytes(reinterpret_cast<const char*>(jti.data()), jti.size());
    return static_cast<std::size_t>(wyhash(bytes, seed_)) & indexMask;
}

std::size_t ReceiptBook::findSlot(const Jti& jti) const {
    for (std::size_t slot = home(jti);; slot = (slot + 1) & indexMask) {
        const std::uint32_t number = index_[slot];
        if (number == 0) return indexSize;
        if (table_[number - 1].jti == jti) return slot;
    }
}

ReceiptBook::Entry* ReceiptBook::find(const Jti& jti) {
    const std::size_t slot = findSlot(jti);
    return slot == indexSize ? nullptr : &table_[index_[slot] - 1];
}

// Enters a receipt whose signature was just checked; the caller made room.
ReceiptBook::Entry& ReceiptBook::insert(const Receipt& receipt, State state) {
    const std::uint32_t number = freeCount_ > 0 ? freeStack_[--freeCount_] : used_++;
    Entry& entry = table_[number];
    entry = Entry{};
    entry.jti = receipt.jti;
    entry.fingerprint = receipt.fingerprint;
    entry.keyDigest = receipt.keyDigest;
    entry.exp = receipt.exp;
    enqueue(entry, state);
    std::size_t slot = home(receipt.jti);
    while (index_[slot] != 0) slot = (slot + 1) & indexMask;
    index_[slot] = number + 1;
    ++entries_;
    return entry;
}

// Removes entry `number` and closes the gap in its probe run: each later
// slot of the run whose home does not lie between the gap and itself moves
// back into the gap.
void ReceiptBook::remove(std::uint32_t number) {
    std::size_t gap = findSlot(table_[number].jti);
    for (std::size_t slot = (gap + 1) & indexMask; index_[slot] != 0;
         slot = (slot + 1) & indexMask) {
        const std::size_t wanted = home(table_[index_[slot] - 1].jti);
        if (distance(wanted, slot) >= distance(gap, slot)) {
            index_[gap] = index_[slot];
            gap = slot;
        }
    }
    index_[gap] = 0;
    dequeue(table_[number]);
    table_[number].state = State::unused;
    freeStack_[freeCount_++] = number;
    --entries_;
}

// A full book drops the oldest entry of the first queue that has one: bad,
// then verified (the least recently used), then revoked.
void ReceiptBook::makeRoom() {
    if (entries_ < capacity) return;
    for (const Queue& queue : queues_) {
        if (queue.oldest != none) {
            remove(queue.oldest);
            return;
        }
    }
}

// Walks on over the entries from where the last call stopped, dropping the
// expired ones. The walk earns a whole book's worth of steps a minute and
// takes at most sweepStepLimit of them per call, so that no request pays
// for more than a bounded stretch and a quiet book costs nothing.
void ReceiptBook::sweepSome(std::int64_t now) {
    if (now > sweepClock_) {
        const std::uint64_t earned =
            static_cast<std::uint64_t>(now - sweepClock_) * capacity / sweepPeriod;
        sweepBudget_ = std::min<std::uint64_t>(sweepBudget_ + earned, capacity);
    }
    sweepClock_ = now;
    std::uint64_t steps = std::min<std::uint64_t>({sweepBudget_, sweepStepLimit, used_});
    sweepBudget_ -= steps;
    for (; steps > 0; --steps) {
        if (sweepCursor_ >= used_) sweepCursor_ = 0;
        const Entry& entry = table_[sweepCursor_];
        if (entry.state != State::unused && entry.exp <= now) remove(sweepCursor_);
        ++sweepCursor_;
    }
}

std::uint32_t ReceiptBook::numberOf(const Entry& entry) const {
    return static_cast<std::uint32_t>(&entry - table_.get());
}

ReceiptBook::Queue& ReceiptBook::queueOf(State state) {
    return queues_[static_cast<std::size_t>(state) - 1];
}

void ReceiptBook::enqueue(Entry& entry, State state) {
    Queue& queue = queueOf(state);
    const std::uint32_t number = numberOf(entry);
    entry.state = state;
    entry.older = queue.newest;
    entry.newer = none;
    (queue.newest == none ? queue.oldest : table_[queue.newest].newer) = number;
    queue.newest = number;
}

void ReceiptBook::dequeue(Entry& entry) {
    Queue& queue = queueOf(entry.state);
    (entry.older == none ? queue.oldest : table_[entry.older].newer) = entry.newer;
    (entry.newer == none ? queue.newest : table_[entry.newer].older) = entry.older;
}

// Moving an entry to the back of its queue is also how a verified one is
// marked used.
void ReceiptBook::setState(Entry& entry, State state) {
    dequeue(entry);
    enqueue(entry, state);
}

bool ReceiptBook::revoke(Entry& entry) {
    setState(entry, State::revoked);
    ++revokedTotal_;
    return false;
}

// Keeps the receipt to maxIps addresses live within ten minutes: a known
// address is refreshed; a new one takes the lowest slot that is not live.
bool ReceiptBook::admitAddress(Entry& entry, std::uint64_t ipHash, std::int64_t now) const {
    for (std::size_t i = 0; i < addressSlots; ++i) {
        if (entry.ipHash[i] == ipHash) {
            entry.ipLastSeen[i] = now;
            return true;
        }
    }
    std::size_t live = 0;
    std::size_t free = addressSlots;
    for (std::size_t i = 0; i < addressSlots; ++i) {
        const bool isLive = entry.ipHash[i] != 0 && entry.ipLastSeen[i] > now - window;
        if (isLive) ++live;
        if (!isLive && free == addressSlots) free = i;
    }
    if (live >= maxIps_ || free == addressSlots) return false;
    entry.ipHash[free] = ipHash;
    entry.ipLastSeen[free] = now;
    return true;
}

// Moves the two-window counter to `now` and compares its estimate of the
// uses in the last ten minutes with maxRequests.
bool ReceiptBook::withinRequestLimit(Entry& entry, std::int64_t now) const {
    // A clock stepped back counts as no time passed; a negative age would
    // weigh the previous window by more than a whole window.
    std::int64_t age = std::max<std::int64_t>(now - entry.windowStart, 0);
    if (age >= 2 * window) {
        entry.current = 0;
        entry.previous = 0;
        entry.windowStart = now;
        age = 0;
    } else if (age >= window) {
        entry.previous = entry.current;
        entry.current = 0;
        entry.windowStart += window;
        age -= window;
    }
    const std::uint64_t estimate =
        std::uint64_t{entry.previous} * static_cast<std::uint64_t>(window - age) / window +
        entry.current;
    return estimate <= maxRequests_;
}

// Counts one use of a verified receipt; the use is counted before the
// window moves, so a use that opens a fresh window is not counted.
bool ReceiptBook::admit(Entry& entry, std::uint64_t ipHash, std::int64_t now) {
    setState(entry, State::verified);
    ++entry.current;
    if (ipHash != 0 && !admitAddress(entry, ipHash, now)) return revoke(entry);
    if (!withinRequestLimit(entry, now)) return revoke(entry);
    return true;
}

BookAnswer ReceiptBook::lookup(const Receipt& receipt, std::uint64_t ipHash, std::int64_t now) {
    sweepSome(now);
    Entry* entry = find(receipt.jti);
    if (entry == nullptr) return {true, ReceiptStatus::none};
    if (entry->fingerprint != receipt.fingerprint) return {false, ReceiptStatus::bad};
    if (entry->state == State::revoked) return {false, ReceiptStatus::revoked};
    // Checked under a key its id no longer names: the old answer says
    // nothing about the key in use now.
    if (entry->keyDigest != receipt.keyDigest) return {true, ReceiptStatus::none};
    if (entry->state == State::bad) return {false, ReceiptStatus::bad};
    return {false, admit(*entry, ipHash, now) ? ReceiptStatus::valid : ReceiptStatus::revoked};
}

ReceiptStatus ReceiptBook::complete(const Receipt& receipt, bool ok, std::uint64_t ipHash,
                                    std::int64_t now) {
    sweepSome(now);
    Entry* entry = find(receipt.jti);
    if (entry == nullptr) {
        makeRoom();
        entry = &insert(receipt, ok ? State::verified : State::bad);
    } else if (entry->fingerprint != receipt.fingerprint) {
        return ReceiptStatus::bad;
    } else if (entry->state == State::revoked) {
        // A revocation holds whatever a later check says.
        return ok ? ReceiptStatus::revoked : ReceiptStatus::bad;
    } else {
        entry->keyDigest = receipt.keyDigest;
        if (!ok) setState(*entry, State::bad);
    }
    if (!ok) return ReceiptStatus::bad;
    return admit(*entry, ipHash, now) ? ReceiptStatus::valid : ReceiptStatus::revoked;
}

}  // namespace vorn
