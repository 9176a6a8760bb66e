#pragma once

#include <chrono>

#include "http_handler.hpp"

namespace vorn::gate {

// Reads one request from the connected socket `fd`, head and body within
// `timeout` altogether (a slow sender cannot hold a thread longer), answers
// it and returns; the caller closes `fd`. A peer that closes before sending
// anything gets nothing; anything unreadable gets a 400.
void serveConnection(int fd, HttpHandler& handler, std::chrono::milliseconds timeout);

}  // namespace vorn::gate
