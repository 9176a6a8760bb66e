#include "loop/connection_limits.hpp"
#include "loop/event_loop.hpp"
#include "observe/metrics_endpoint.hpp"
#include "spop/connection_protocol.hpp"

// A metrics connection answers exactly one HTTP request, then closes once the
// response is sent; bytes after the request head are discarded with it.

namespace vorn {

void ConnectionProtocol::handleMetricsRequest(Connection& connection) {
    if (connection.closeAfterFlush || connection.input == nullptr) return;
    std::span<const std::byte> input(connection.input, connection.inputFill);
    if (!requestHeadComplete(input)) return;
    if (!acquireOutput(connection)) return;
    auto response = writeMetricsResponse(input, {connection.output, chunkBytes}, metrics_);
    if (!response) {
        loop_.close(connection);
        return;
    }
    connection.outputSent = response->begin;
    connection.outputEnd = response->end;
    connection.inputFill = 0;
    connection.closeAfterFlush = true;
}

}  // namespace vorn
