#include <sys/socket.h>

#include <cerrno>

#include "loop/event_loop.hpp"
#include "observe/log.hpp"

// Accepting under the connection limit: pausing when the limit or the
// system's resources are exhausted, resuming when a connection is released.
// A listener with a cap of its own stops accepting while it is full and
// goes on when one of its connections is released.

namespace vorn {

std::expected<void, Error> EventLoop::openSpopListener(std::string_view path,
                                                       ConnectionHandler& handler) {
    if (auto opened = vorn::openSpopListener(spop_, path); !opened) return opened;
    openedListener(spop_, handler, spopChunks_);
    return {};
}

std::expected<void, Error> EventLoop::openMetricsListener(std::string_view address,
                                                          ConnectionHandler& handler) {
    if (auto opened = vorn::openMetricsListener(metrics_, address); !opened) return opened;
    metrics_.connectionCap = metricsConnectionCap;
    metrics_.exchangeTimeout = metricsExchangeTimeout;
    openedListener(metrics_, handler, metricsChunks_);
    return {};
}

void EventLoop::openedListener(Listener& listener, ConnectionHandler& handler, ChunkPool& chunks) {
    listener.handler = &handler;
    listener.chunks = &chunks;
    registerListener(listener);
}

void EventLoop::registerListener(Listener& listener) {
    queueChange({static_cast<std::uintptr_t>(listener.fd), kev::Filter::read, kev::add | kev::clear,
                 0, &listener});
}

void EventLoop::acceptLoop(Listener& listener, const LoopEvent* event) {
    if (event != nullptr && event->data > 0 && !event->endOfStream && !event->error) {
        listener.pending = {event->data, true};
    } else {
        listener.pending.forget();
    }
    listener.deferred = false;
    for (;;) {
        if (openCount_ >= connectionLimit_) {
            pauseAccept(AcceptError::limit);
            return;
        }
        if (listener.full()) {
            listener.deferred = true;
            return;
        }
        Connection* connection = records_.take();
        if (connection == nullptr) {
            pauseAccept(AcceptError::resources);
            return;
        }
        int fd = acceptOne(listener);
        if (fd < 0) {
            records_.give(*connection);
            return;
        }
        adopt(listener, *connection, fd);
    }
}

// The next pending connection's descriptor, or -1 when there is none (or
// accepting had to pause).
int EventLoop::acceptOne(Listener& listener) {
    while (!(listener.pending.known && listener.pending.count == 0)) {
        int fd = ::accept4(listener.fd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd >= 0) {
            listener.pending.consume(1);
            return fd;
        }
        int error = errno;
        if (error == EINTR) continue;
        if (error == ECONNABORTED || error == EPROTO) {
            listener.pending.consume(1);
            continue;
        }
        if (error == EMFILE || error == ENFILE || error == ENOMEM || error == ENOBUFS) {
            listener.pending.forget();
            pauseAccept(AcceptError::resources);
        } else if (error != EAGAIN && error != EWOULDBLOCK) {
            listener.pending.forget();
            ++stats_.acceptErrors[indexOf(AcceptError::socket_error)];
        }
        return -1;
    }
    return -1;
}

void EventLoop::adopt(Listener& listener, Connection& connection, int fd) {
    connection.fd = fd;
    connection.listener = &listener;
    if (listener.exchangeTimeout) {
        connection.deadline = steadyNanos() + *listener.exchangeTimeout;
        ++deadlinesPending_;
    }
    listener.connections.pushBack(connection);
    ++listener.openCount;
    ++openCount_;
    queueChange({static_cast<std::uintptr_t>(fd), kev::Filter::read, kev::add | kev::clear, 0,
                 &connection});
}

void EventLoop::pauseAccept(AcceptError reason) {
    ++stats_.acceptErrors[indexOf(reason)];
    if (acceptPaused_) return;
    acceptPaused_ = true;
    // Without an open connection no release will ever resume accepting; the
    // listeners then stay registered, so that the next connection attempt
    // retries.
    if (openCount_ > 0) {
        for (Listener* listener : {&spop_, &metrics_}) {
            if (listener->fd >= 0) {
                queueChange({static_cast<std::uintptr_t>(listener->fd), kev::Filter::read,
                             kev::remove, 0, nullptr});
            }
        }
    }
    LogMessage message;
    if (reason == AcceptError::limit) {
        message.text("accept paused: ").number(openCount_).text(" connections, the limit");
    } else {
        message.text("accept paused: out of descriptors or memory");
    }
    logMessage(LogLevel::warning, message.view());
}

void EventLoop::resumeAccept() {
    acceptPaused_ = false;
    for (Listener* listener : {&spop_, &metrics_}) {
        if (listener->fd >= 0) {
            registerListener(*listener);
            acceptLoop(*listener, nullptr);
        }
    }
    logMessage(LogLevel::info, "accept resumed");
}

}  // namespace vorn
