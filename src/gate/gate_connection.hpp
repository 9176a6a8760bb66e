#pragma once

#include <array>
#include <cstddef>

#include "common/nanos.hpp"
#include "gate/gate_handler.hpp"
#include "observe/metrics_endpoint.hpp"

namespace vorn {

// A worker's buffers, reused for every connection it serves: the input
// holds a whole request (head, and a chunked body with its framing), the
// output a whole reply (the challenge page is about 10 KiB).
struct ConnectionBuffers {
    std::array<char, 16 * 1024> input;
    std::array<char, 32 * 1024> output;
};

// Reads one request from the connected socket `fd`, head and body within
// `timeout` altogether (a slow sender cannot hold a worker longer), answers
// it through `handler` and returns; the caller closes `fd`. The search for
// the end of the head resumes where the last read left it. A peer that
// closes before sending anything gets nothing; a request that cannot be
// read is refused with its reason.
void serveGateConnection(int fd, GateHandler& handler, ConnectionBuffers& buffers, Nanos timeout);

// The same for the metrics listener: the daemon's endpoint answers, with
// the page of `source` for "GET /metrics" and a 404 otherwise. A request
// that does not arrive whole in time is closed without an answer.
void serveMetricsConnection(int fd, MetricsSource& source, ConnectionBuffers& buffers,
                            Nanos timeout);

}  // namespace vorn
