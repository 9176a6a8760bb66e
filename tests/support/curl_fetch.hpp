#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace vorn::test {

struct Fetched {
    int status = 0;                              // 0 when curl got no answer
    std::map<std::string, std::string> headers;  // lower-case names
    std::string body;
};

// One request to `url` with curl, `extra` being further curl arguments
// ("-H", "Cookie: ...", "--interface", "127.0.0.2", ...). -k: the tests'
// certificates are their own. Ten seconds at most.
[[nodiscard]] Fetched curlFetch(const std::string& url, const std::vector<std::string>& extra = {});

// A curl command that sends `count` GETs of distinct commit pages to
// 127.0.0.1:`port`, 16 at a time, bodies discarded, and writes `writeOut`
// (curl's -w format) for each.
[[nodiscard]] std::vector<std::string> parallelCommitGets(std::uint16_t port, int count,
                                                          const std::string& writeOut);

}  // namespace vorn::test
