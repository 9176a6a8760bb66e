#include "loop/connection_records.hpp"

#include <new>

namespace vorn {

namespace {

constexpr std::size_t recordsPerBlock = 64;

}  // namespace

struct ConnectionRecords::Block {
    Block* next;
    Connection records[recordsPerBlock];
};

ConnectionRecords::~ConnectionRecords() {
    while (blocks_ != nullptr) {
        Block* next = blocks_->next;
        delete blocks_;
        blocks_ = next;
    }
}

Connection* ConnectionRecords::take() {
    Connection* record = free_.popFront();
    if (record == nullptr) {
        if (blocks_ == nullptr || carvedInLastBlock_ == recordsPerBlock) {
            auto* block = new (std::nothrow) Block{};
            if (block == nullptr) return nullptr;
            block->next = blocks_;
            blocks_ = block;
            carvedInLastBlock_ = 0;
        }
        record = &blocks_->records[carvedInLastBlock_++];
    }
    *record = Connection{};
    return record;
}

void ConnectionRecords::give(Connection& record) {
    free_.pushFront(record);
}

}  // namespace vorn
