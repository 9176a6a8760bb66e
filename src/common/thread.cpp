#include "common/thread.hpp"

#include <cerrno>
#include <csignal>

namespace vorn {

namespace {

constexpr std::size_t stackBytes = 16u << 20;
constexpr std::size_t guardBytes = 4u << 10;

}  // namespace

std::expected<pthread_t, Error> startThread(void* (*body)(void*), void* argument) {
    pthread_attr_t attributes;
    if (pthread_attr_init(&attributes) != 0) return std::unexpected(Error::SystemResources);
    int result = pthread_attr_setstacksize(&attributes, stackBytes);
    if (result == 0) result = pthread_attr_setguardsize(&attributes, guardBytes);

    // The new thread inherits the creator's signal mask: block everything
    // around the creation and put the creator's mask back afterwards.
    sigset_t all;
    sigset_t previous;
    sigfillset(&all);
    pthread_t thread{};
    if (result == 0) {
        pthread_sigmask(SIG_SETMASK, &all, &previous);
        result = pthread_create(&thread, &attributes, body, argument);
        pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    }
    pthread_attr_destroy(&attributes);
    if (result == EAGAIN || result == ENOMEM) return std::unexpected(Error::SystemResources);
    if (result != 0) return std::unexpected(Error::Unexpected);
    return thread;
}

}  // namespace vorn
