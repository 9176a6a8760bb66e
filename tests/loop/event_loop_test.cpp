#include "loop/event_loop.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <functional>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace vorn {
namespace {

using namespace std::chrono_literals;

// Completions at or above this slot number are commands for the loop thread,
// so that tests can look at the loop's state where it lives.
constexpr std::uint64_t commandBase = 1u << 30;

// Runs an event loop on its own thread with a handler that consumes all
// input.
class LoopHarness : public LoopHandler, public ConnectionHandler {
public:
    LoopHarness(std::uint64_t connectionLimit, std::uint64_t chunkLimit) {
        char pattern[] = "/tmp/vorn-loop-XXXXXX";
        directory_ = mkdtemp(pattern);
        path = directory_ + "/agent.sock";
        loop = std::move(EventLoop::create(connectionLimit, chunkLimit).value());
        loop->setHandler(*this);
        EXPECT_TRUE(loop->openSpopListener(path, *this).has_value());
    }

    ~LoopHarness() {
        if (thread_.joinable()) stop();
        loop.reset();
        std::system(("rm -rf " + directory_).c_str());
    }

    void start() {
        thread_ = std::thread([this] { result_ = loop->run(); });
    }

    // Runs `action` on the loop thread and waits (at most five seconds).
    bool onLoop(std::function<void()> action) {
        std::promise<void> done;
        std::uint64_t slot = 0;
        {
            std::lock_guard lock(mutex_);
            slot = commandBase + commands_.size();
            commands_.push_back([&] {
                action();
                done.set_value();
            });
        }
        loop->completions().push({slot, 1});
        return done.get_future().wait_for(5s) == std::future_status::ready;
    }

    // Polls a condition on the loop thread until it holds (five seconds).
    bool eventually(std::function<bool()> condition) {
        for (int i = 0; i < 500; ++i) {
            bool holds = false;
            if (!onLoop([&] { holds = condition(); })) return false;
            if (holds) return true;
            std::this_thread::sleep_for(10ms);
        }
        return false;
    }

    Error stop() {
        onLoop([this] { loop->setError(Error::Unexpected); });
        thread_.join();
        return result_;
    }

    int connectClient() const {
        int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        path.copy(address.sun_path, path.size());
        EXPECT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
        return fd;
    }

    void onInput(ConnectionIo& connection) override {
        if (onInputHook) onInputHook(connection);
        connection.consume(connection.input().size());
    }
    void onClosed(std::uintptr_t) override { ++closed; }
    void onCompletion(const Completion& completion) override {
        if (completion.slot < commandBase) {
            completed.push_back(completion.slot);
            return;
        }
        std::function<void()> command;
        {
            std::lock_guard lock(mutex_);
            command = commands_[completion.slot - commandBase];
        }
        command();
    }
    void reload() override { ++reloads; }

    std::unique_ptr<EventLoop> loop;
    std::string path;
    // Loop thread only.
    std::vector<std::uint64_t> completed;
    int reloads = 0;
    int closed = 0;
    std::function<void(ConnectionIo&)> onInputHook;

private:
    std::string directory_;
    std::thread thread_;
    Error result_{};
    std::mutex mutex_;
    std::vector<std::function<void()>> commands_;
};

TEST(EventLoop, RunsUntilAnErrorIsSetAndReturnsIt) {
    LoopHarness harness(8, 16);
    harness.start();
    EXPECT_EQ(harness.stop(), Error::Unexpected);
}

TEST(EventLoop, CompletionsFromSeveralThreadsAreAllHandledInTheirOrder) {
    LoopHarness harness(8, 16);
    harness.start();
    constexpr std::uint64_t perThread = 300;
    std::vector<std::thread> posters;
    for (std::uint64_t t = 0; t < 3; ++t) {
        posters.emplace_back([&harness, t] {
            for (std::uint64_t i = 0; i < perThread; ++i) {
                harness.loop->completions().push({t * perThread + i, 1});
            }
        });
    }
    for (auto& poster : posters) poster.join();
    ASSERT_TRUE(harness.eventually([&] { return harness.completed.size() == 3 * perThread; }));
    std::vector<std::uint64_t> next = {0, perThread, 2 * perThread};
    harness.onLoop([&] {
        for (std::uint64_t slot : harness.completed) {
            std::uint64_t& expected = next[slot / perThread];
            EXPECT_EQ(slot, expected);
            expected = slot + 1;
        }
    });
}

TEST(EventLoop, AcceptingPausesAtTheLimitAndResumesWhenAConnectionCloses) {
    LoopHarness harness(2, 16);
    harness.start();
    int first = harness.connectClient();
    int second = harness.connectClient();
    int third = harness.connectClient();
    ASSERT_TRUE(harness.eventually([&] { return harness.loop->acceptPaused(); }));
    harness.onLoop([&] {
        EXPECT_EQ(harness.loop->openConnections(), 2u);
        EXPECT_GE(harness.loop->stats().acceptErrors[indexOf(AcceptError::limit)], 1u);
    });

    ::close(first);
    // The waiting third connection is accepted, which reaches the limit again.
    ASSERT_TRUE(harness.eventually(
        [&] { return harness.loop->stats().acceptErrors[indexOf(AcceptError::limit)] >= 2; }));
    harness.onLoop([&] { EXPECT_EQ(harness.loop->openConnections(), 2u); });

    ::close(second);
    ASSERT_TRUE(harness.eventually([&] { return !harness.loop->acceptPaused(); }));
    ::close(third);
    ASSERT_TRUE(harness.eventually([&] { return harness.loop->openConnections() == 0; }));
    harness.onLoop([&] { EXPECT_EQ(harness.loop->stats().connections, 0u); });
}

TEST(EventLoop, AConnectionClosedDuringABatchKeepsItsDescriptorUntilTheBatchEnds) {
    LoopHarness harness(8, 16);
    int client = -1;
    int peekedWhileClosing = 1;
    harness.onInputHook = [&](ConnectionIo& connection) {
        connection.close();
        char byte = 0;
        peekedWhileClosing = static_cast<int>(::recv(client, &byte, 1, MSG_PEEK | MSG_DONTWAIT));
    };
    harness.start();
    client = harness.connectClient();
    ASSERT_EQ(::write(client, "x", 1), 1);
    ASSERT_TRUE(harness.eventually([&] { return harness.closed == 1; }));
    ASSERT_TRUE(harness.eventually([&] { return harness.loop->openConnections() == 0; }));
    EXPECT_EQ(peekedWhileClosing, -1) << "the descriptor stays open until the batch ends";
    // The peer sees the close.
    char byte = 0;
    EXPECT_EQ(::read(client, &byte, 1), 0);
    ::close(client);
}

// A read that comes back short ends reading until the next event: bytes
// that come later bring one, and a close that came with the bytes is still
// seen.
TEST(EventLoop, AShortReadWaitsForTheNextEventButNotPastThePeersClose) {
    LoopHarness harness(8, 16);
    std::string seen;  // loop thread
    harness.onInputHook = [&](ConnectionIo& connection) {
        seen.append(reinterpret_cast<const char*>(connection.input().data()),
                    connection.input().size());
    };
    harness.start();
    int client = harness.connectClient();
    ASSERT_EQ(::write(client, "ab", 2), 2);
    ASSERT_TRUE(harness.eventually([&] { return seen == "ab"; }));
    ASSERT_EQ(::write(client, "cd", 2), 2);
    ASSERT_EQ(::shutdown(client, SHUT_WR), 0);
    EXPECT_TRUE(harness.eventually([&] { return seen == "abcd" && harness.closed == 1; }));
    ::close(client);
}

TEST(EventLoop, SighupArrivesAsAnEventAndMergedSignalsReloadOnce) {
    sigset_t hup;
    sigemptyset(&hup);
    sigaddset(&hup, SIGHUP);
    // Every thread of the test process keeps SIGHUP blocked, as the daemon's
    // threads do, so that only the loop sees it.
    pthread_sigmask(SIG_BLOCK, &hup, nullptr);
    {
        LoopHarness harness(8, 16);
        ASSERT_TRUE(harness.loop->watchSignal(SIGHUP).has_value());
        ::kill(::getpid(), SIGHUP);
        ::kill(::getpid(), SIGHUP);
        harness.start();
        ASSERT_TRUE(harness.eventually([&] { return harness.reloads >= 1; }));
        harness.onLoop([&] { EXPECT_EQ(harness.reloads, 1); });
        ::kill(::getpid(), SIGHUP);
        ASSERT_TRUE(harness.eventually([&] { return harness.reloads == 2; }));
    }
    struct sigaction restored {};
    sigaction(SIGHUP, nullptr, &restored);
    EXPECT_EQ(restored.sa_handler, SIG_DFL);
    pthread_sigmask(SIG_UNBLOCK, &hup, nullptr);
}

}  // namespace
}  // namespace vorn
