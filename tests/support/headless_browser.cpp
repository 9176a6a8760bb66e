#include "support/headless_browser.hpp"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <simdjson.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <thread>
#include <vector>

#include "token/token_signer.hpp"

extern char** environ;

namespace vorn::test {

namespace {

using namespace std::chrono_literals;

// Enough to get past a cold start on a loaded two-core machine.
constexpr Millis startTimeout{20000};

bool writeAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return false;
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

bool reaped(pid_t pid, Millis timeout) {
    Deadline deadline(timeout);
    int status = 0;
    while (!deadline.passed()) {
        if (::waitpid(pid, &status, WNOHANG) == pid) return true;
        std::this_thread::sleep_for(20ms);
    }
    return false;
}

}  // namespace

HeadlessBrowser::HeadlessBrowser(const std::vector<std::string>& flags) {
    std::array<int, 2> commands{};
    std::array<int, 2> replies{};
    if (::pipe2(commands.data(), O_CLOEXEC) != 0 || ::pipe2(replies.data(), O_CLOEXEC) != 0) {
        failure_ = "pipe: " + std::string(std::strerror(errno));
        return;
    }
    std::vector<std::string> arguments = {std::string(chromiumPath),
                                          "--headless",
                                          "--no-sandbox",
                                          "--disable-gpu",
                                          "--disable-background-networking",
                                          "--disable-component-update",
                                          "--disable-sync",
                                          "--no-first-run",
                                          "--disable-dev-shm-usage",
                                          "--disable-quic",
                                          "--user-data-dir=" + profile_.path(),
                                          "--remote-debugging-pipe"};
    arguments.insert(arguments.end(), flags.begin(), flags.end());
    arguments.emplace_back("about:blank");
    std::vector<char*> argv;
    for (auto& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, commands[0], 3);
    posix_spawn_file_actions_adddup2(&actions, replies[1], 4);
    const int error = ::posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(commands[0]);
    ::close(replies[1]);
    toBrowser_ = commands[1];
    fromBrowser_ = replies[0];
    if (error != 0) {
        pid_ = -1;
        failure_ = "cannot start " + std::string(chromiumPath) + ": " + std::strerror(error);
        return;
    }
    if (!call("Browser.getVersion", "{}", {}, startTimeout)) {
        failure_ = "Chromium started but did not answer on its DevTools pipe";
    }
}

HeadlessBrowser::~HeadlessBrowser() {
    if (pid_ > 0) {
        (void)call("Browser.close", "{}", {}, 2000ms);
        if (!reaped(pid_, 5000ms)) {
            ::kill(pid_, SIGKILL);
            (void)reaped(pid_, 5000ms);
        }
    }
    if (toBrowser_ >= 0) ::close(toBrowser_);
    if (fromBrowser_ >= 0) ::close(fromBrowser_);
}

std::optional<std::string> HeadlessBrowser::nextMessage(const Deadline& deadline) {
    for (;;) {
        if (const std::size_t end = received_.find('\0'); end != std::string::npos) {
            std::string message = received_.substr(0, end);
            received_.erase(0, end + 1);
            return message;
        }
        pollfd entry{.fd = fromBrowser_, .events = POLLIN, .revents = 0};
        if (::poll(&entry, 1, deadline.pollMillis()) <= 0) return std::nullopt;
        std::array<char, 65536> chunk{};
        const ssize_t got = ::read(fromBrowser_, chunk.data(), chunk.size());
        if (got <= 0) return std::nullopt;
        received_.append(chunk.data(), static_cast<std::size_t>(got));
    }
}

std::optional<std::string> HeadlessBrowser::call(std::string_view method, std::string_view params,
                                                 std::string_view session, Millis timeout) {
    if (pid_ <= 0) return std::nullopt;
    const int id = nextId_++;
    std::string command = "{\"id\":" + std::to_string(id) +
                          ",\"method\":" + vorn::jsonString(method) +
                          ",\"params\":" + std::string(params);
    if (!session.empty()) command += ",\"sessionId\":" + vorn::jsonString(session);
    command += "}";
    command.push_back('\0');
    if (!writeAll(toBrowser_, command)) return std::nullopt;
    const std::string idText = "\"id\":" + std::to_string(id) + ",";
    const std::string idLast = "\"id\":" + std::to_string(id) + "}";
    Deadline deadline(timeout);
    while (auto message = nextMessage(deadline)) {
        if (message->find(idText) != std::string::npos ||
            message->find(idLast) != std::string::npos)
            return message;
    }
    return std::nullopt;
}

std::optional<std::string> HeadlessBrowser::openPage() {
    auto target = call("Target.createTarget", R"({"url":"about:blank"})");
    auto targetId = target ? jsonString(*target, "result.targetId") : std::nullopt;
    if (!targetId) return std::nullopt;
    auto attached = call("Target.attachToTarget",
                         "{\"targetId\":" + vorn::jsonString(*targetId) + ",\"flatten\":true}");
    return attached ? jsonString(*attached, "result.sessionId") : std::nullopt;
}

std::optional<std::string> HeadlessBrowser::evaluate(std::string_view session,
                                                     std::string_view expression) {
    auto reply = call(
        "Runtime.evaluate",
        "{\"expression\":" + vorn::jsonString(expression) + ",\"returnByValue\":true}", session);
    return reply ? jsonString(*reply, "result.result.value") : std::nullopt;
}

std::optional<std::string> jsonString(std::string_view json, std::string_view path) {
    simdjson::dom::parser parser;
    simdjson::dom::element element;
    if (parser.parse(simdjson::padded_string(json)).get(element) != simdjson::SUCCESS) {
        return std::nullopt;
    }
    while (!path.empty()) {
        const std::size_t dot = path.find('.');
        if (element.at_key(path.substr(0, dot)).get(element) != simdjson::SUCCESS) {
            return std::nullopt;
        }
        path = dot == std::string_view::npos ? std::string_view() : path.substr(dot + 1);
    }
    std::string_view text;
    if (element.get(text) != simdjson::SUCCESS) return std::nullopt;
    return std::string(text);
}

}  // namespace vorn::test
