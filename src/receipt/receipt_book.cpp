#include "receipt/receipt_book.hpp"

#include <sodium.h>

#include <algorithm>

#include "common/wyhash.hpp"

namespace vorn {

namespace {

constexpr std::int64_t window = 600;        // the sliding window, and an address's life
constexpr std::int64_t sweepInterval = 60;  // between sweeps of expired entries
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

// Enters a new pending receipt; the caller made sure there is room.
void ReceiptBook::insert(const Jti& jti, std::uint64_t fingerprint, std::int64_t exp) {
    const std::uint32_t number = freeCount_ > 0 ? freeStack_[--freeCount_] : used_++;
    table_[number] = Entry{};
    table_[number].jti = jti;
    table_[number].fingerprint = fingerprint;
    table_[number].exp = exp;
    table_[number].state = State::pending;
    std::size_t slot = home(jti);
    while (index_[slot] != 0) slot = (slot + 1) & indexMask;
    index_[slot] = number + 1;
    ++entries_;
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
    setState(table_[number], State::unused);
    freeStack_[freeCount_++] = number;
    --entries_;
}

void ReceiptBook::sweep(std::int64_t now, bool dropBad) {
    lastSweep_ = now;
    for (std::uint32_t number = 0; number < used_; ++number) {
        const Entry& entry = table_[number];
        if (entry.state == State::unused) continue;
        if (entry.exp <= now || (dropBad && entry.state == State::bad)) remove(number);
    }
}

void ReceiptBook::setState(Entry& entry, State state) {
    if (entry.state == State::bad) --badEntries_;
    if (state == State::bad) ++badEntries_;
    entry.state = state;
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
    if (entry.state != State::verified) return false;
    ++entry.current;
    if (ipHash != 0 && !admitAddress(entry, ipHash, now)) return revoke(entry);
    if (!withinRequestLimit(entry, now)) return revoke(entry);
    return true;
}

BookAnswer ReceiptBook::lookup(const Jti& jti, std::uint64_t fingerprint, std::int64_t exp,
                               std::uint64_t ipHash, std::int64_t now) {
    if (Entry* entry = find(jti)) {
        if (entry->fingerprint != fingerprint) return {false, ReceiptStatus::bad};
        switch (entry->state) {
            case State::pending:
                return {true, ReceiptStatus::none};
            case State::verified:
                return {false,
                        admit(*entry, ipHash, now) ? ReceiptStatus::valid : ReceiptStatus::revoked};
            case State::revoked:
                return {false, ReceiptStatus::revoked};
            case State::bad:
            case State::unused:
                return {false, ReceiptStatus::bad};
        }
    }
    // A clock stepped back also sweeps, or expired entries would wait for
    // the clock to catch up.
    if (now - lastSweep_ >= sweepInterval || now < lastSweep_) sweep(now, false);
    if (entries_ >= capacity) {
        // Every entry was entered with an exp after its arrival second, so
        // in the second of the last sweep only bad entries can go: without
        // any, skip the scan rather than repeat it for every new receipt.
        if (badEntries_ > 0 || now != lastSweep_) sweep(now, true);
        if (entries_ >= capacity) return {false, ReceiptStatus::overload};
    }
    insert(jti, fingerprint, exp);
    return {true, ReceiptStatus::none};
}

ReceiptStatus ReceiptBook::complete(const Jti& jti, std::uint64_t fingerprint, bool ok,
                                    std::uint64_t ipHash, std::int64_t now) {
    Entry* entry = find(jti);
    if (entry == nullptr || entry->fingerprint != fingerprint) return ReceiptStatus::bad;
    if (!ok) {
        // A revoked receipt keeps its revocation: as a bad entry it could be
        // dropped from a full book and then admitted afresh.
        if (entry->state != State::revoked) setState(*entry, State::bad);
        return ReceiptStatus::bad;
    }
    if (entry->state == State::pending) setState(*entry, State::verified);
    return admit(*entry, ipHash, now) ? ReceiptStatus::valid : ReceiptStatus::revoked;
}

}  // namespace vorn
