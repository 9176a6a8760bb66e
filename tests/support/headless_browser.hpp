#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "support/deadline.hpp"
#include "support/temp_dir.hpp"

namespace vorn::test {

inline constexpr std::string_view chromiumPath = "/usr/bin/chromium";

// Debian's Chromium, headless, driven over the DevTools protocol on a pipe
// (--remote-debugging-pipe: commands on its descriptor 3, replies and events
// on 4, each a JSON text ending in a NUL byte), so that no WebSocket client
// is needed. Its profile lives in a temporary directory. The destructor asks
// the browser to close, then kills it by its PID if it is still there.
// `flags` come after the browser's own, e.g. a --host-resolver-rules that
// maps a name to loopback.
class HeadlessBrowser {
public:
    explicit HeadlessBrowser(const std::vector<std::string>& flags = {});
    ~HeadlessBrowser();
    HeadlessBrowser(const HeadlessBrowser&) = delete;
    HeadlessBrowser& operator=(const HeadlessBrowser&) = delete;

    // Empty when the browser answered its first command; otherwise why not,
    // for a skip message.
    [[nodiscard]] const std::string& failure() const { return failure_; }

    // Sends `method` with `params` (a JSON object text) to the browser, or to
    // the page of `session` when one is given, and returns the reply's JSON
    // text, events in between skipped. Nothing when no reply came in time.
    [[nodiscard]] std::optional<std::string> call(std::string_view method, std::string_view params,
                                                  std::string_view session = {},
                                                  Millis timeout = defaultTimeout);

    // Opens a page on about:blank and returns the session that drives it.
    [[nodiscard]] std::optional<std::string> openPage();

    // The value of `expression` evaluated in the page, as JSON text.
    [[nodiscard]] std::optional<std::string> evaluate(std::string_view session,
                                                      std::string_view expression);

private:
    [[nodiscard]] std::optional<std::string> nextMessage(const Deadline& deadline);

    TempDir profile_;
    pid_t pid_ = -1;
    int toBrowser_ = -1;
    int fromBrowser_ = -1;
    int nextId_ = 1;
    std::string received_;
    std::string failure_;
};

// The string found in the JSON object text `json` by a path of member names
// ("result.sessionId"). Nothing when absent or not a string.
[[nodiscard]] std::optional<std::string> jsonString(std::string_view json, std::string_view path);

}  // namespace vorn::test
