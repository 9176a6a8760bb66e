#include "observe/metrics_handler.hpp"

namespace vorn {

void MetricsHandler::onInput(ConnectionIo& connection) {
    std::span<const std::byte> input = connection.input();
    if (!requestHeadComplete(input, connection.inputSeen())) {
        connection.markSeen(input.size());
        return;
    }
    std::span<std::byte> output = connection.wholeOutput();
    if (output.empty()) return;
    auto response = writeMetricsResponse(input, output, source_);
    if (!response) {
        connection.close();
        return;
    }
    connection.queueOutput(response->begin, response->end);
    connection.consume(input.size());
    connection.closeAfterFlush();
}

}  // namespace vorn
