#include "support/haproxy_program.hpp"

#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>

#include "support/command.hpp"
#include "support/test_name.hpp"

namespace vorn::test {

namespace {

using namespace std::chrono_literals;

std::string cacheFolder() {
    if (const char* cache = std::getenv("VORN_HAPROXY_CACHE"); cache != nullptr && *cache != 0) {
        return cache;
    }
    const char* xdg = std::getenv("XDG_CACHE_HOME");
    const char* home = std::getenv("HOME");
    std::string base =
        xdg != nullptr && *xdg != 0 ? xdg : std::string(home ? home : "") + "/.cache";
    return base + "/vorn-spoa/haproxy";
}

// "2.6.12-1+deb12u4" from "HAProxy version 2.6.12-1+deb12u4 2026/10/17 - ...";
// empty when `path` does not run as HAProxy.
std::string versionOf(const std::string& path) {
    if (::access(path.c_str(), X_OK) != 0) return {};
    auto result = runCommand({path, "-v"}, 10s);
    if (!result || result->status != 0) return {};
    constexpr std::string_view prefix = "HAProxy version ";
    std::string_view output = result->output;
    std::size_t at = output.find(prefix);
    if (at == std::string_view::npos) return {};
    output.remove_prefix(at + prefix.size());
    return std::string(output.substr(0, output.find_first_of(" \n")));
}

bool ofSeries(const std::string& version, std::string_view series) {
    return version.starts_with(series) && version.size() > series.size() &&
           version[series.size()] == '.';
}

std::string readFirstLine(const std::string& path) {
    std::ifstream file(path);
    std::string line;
    std::getline(file, line);
    return line;
}

HaproxyProgram lookUp(std::string_view series) {
    const std::string system = "/usr/sbin/haproxy";
    std::string systemVersion = versionOf(system);
    if (ofSeries(systemVersion, series)) return {system, systemVersion, {}};
    const std::string cache = cacheFolder();
    const std::string fetched = cache + "/" + std::string(series) + "/haproxy";
    std::string fetchedVersion = versionOf(fetched);
    if (ofSeries(fetchedVersion, series)) return {fetched, fetchedVersion, {}};

    std::ostringstream why;
    why << "HAProxy " << series << " is not here: " << system << " is "
        << (systemVersion.empty() ? "missing" : systemVersion) << ", and ";
    std::string skipped = readFirstLine(cache + "/" + std::string(series) + ".skipped");
    if (!skipped.empty()) {
        why << "scripts/fetch-haproxy could not fetch it: " << skipped;
    } else {
        why << fetched << " is " << (fetchedVersion.empty() ? "missing" : fetchedVersion)
            << " (make test runs scripts/fetch-haproxy)";
    }
    return {{}, {}, why.str()};
}

}  // namespace

const HaproxyProgram& findHaproxy(std::string_view series) {
    static std::mutex lock;
    static std::map<std::string, HaproxyProgram, std::less<>> found;
    std::lock_guard guard(lock);
    auto known = found.find(series);
    if (known == found.end()) known = found.emplace(std::string(series), lookUp(series)).first;
    return known->second;
}

std::string haproxyRowName(const testing::TestParamInfo<std::string_view>& info) {
    return testName({"HAProxy", std::string(info.param)});
}

}  // namespace vorn::test
