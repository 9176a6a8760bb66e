#pragma once

#include "loop/connection.hpp"

namespace vorn {

// Connection records, carved from blocks that only grow while the loop runs.
// A released record is reused (last in, first out) before a new one is
// carved; all blocks are freed together with the loop.
class ConnectionRecords {
public:
    ConnectionRecords() = default;
    ~ConnectionRecords();
    ConnectionRecords(const ConnectionRecords&) = delete;
    ConnectionRecords& operator=(const ConnectionRecords&) = delete;

    // A fresh record, or nullptr when no memory can be had.
    [[nodiscard]] Connection* take();
    void give(Connection& record);

private:
    struct Block;

    Block* blocks_ = nullptr;
    std::size_t carvedInLastBlock_ = 0;
    ClosingConnections free_;  // a free record is on no other list
};

}  // namespace vorn
