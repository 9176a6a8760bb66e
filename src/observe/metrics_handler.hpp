#pragma once

#include <cstdint>
#include <optional>

#include "common/connection_io.hpp"
#include "observe/metrics_endpoint.hpp"

namespace vorn {

// A metrics connection answers exactly one HTTP request, then closes once
// the response is sent; bytes after the request head are discarded with it.
// Belongs to the loop thread.
class MetricsHandler final : public ConnectionHandler {
public:
    explicit MetricsHandler(MetricsSource& source) : source_(source) {}

    void onInput(ConnectionIo& connection) override;
    void onClosed(std::uintptr_t) override {}

private:
    MetricsSource& source_;
};

}  // namespace vorn
