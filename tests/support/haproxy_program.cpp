#include "support/haproxy_program.hpp"

#include <unistd.h>

#include <array>
#include <cstdlib>
#include <fstream>
#include <map>
#include <mutex>
#include <optional>

#include "support/command.hpp"
#include "support/test_name.hpp"

namespace vorn::test {

namespace {

using namespace std::chrono_literals;

std::string cacheFolder() {
    auto variable = [](const char* name) -> std::optional<std::string> {
        const char* value = std::getenv(name);
        return value != nullptr && *value != 0 ? std::optional<std::string>(value) : std::nullopt;
    };
    if (auto cache = variable("VORN_HAPROXY_CACHE")) return *cache;
    return variable("XDG_CACHE_HOME").value_or(variable("HOME").value_or("") + "/.cache") +
           "/vorn-spoa/haproxy";
}

// "2.6.12-1+deb12u4" from "HAProxy version 2.6.12-1+deb12u4 2026/10/17 - ...";
// empty when `path` does not run as HAProxy.
std::string versionOf(const std::string& path) {
    if (::access(path.c_str(), X_OK) != 0) return {};
    auto result = runCommand({path, "-v"}, 10s);
    constexpr std::string_view prefix = "HAProxy version ";
    std::size_t at =
        result && result->status == 0 ? result->output.find(prefix) : std::string::npos;
    if (at == std::string::npos) return {};
    std::string_view version = std::string_view(result->output).substr(at + prefix.size());
    return std::string(version.substr(0, version.find_first_of(" \n")));
}

HaproxyProgram lookUp(std::string_view series) {
    const std::string folder = cacheFolder() + "/" + std::string(series);
    const std::array<std::string, 2> paths = {"/usr/sbin/haproxy", folder + "/haproxy"};
    std::array<std::string, 2> versions;
    for (std::size_t i = 0; i < paths.size(); ++i) {
        versions[i] = versionOf(paths[i]);
        const std::string& v = versions[i];
        if (v.starts_with(series) && v.size() > series.size() && v[series.size()] == '.') {
            return {paths[i], {}};
        }
    }
    auto described = [&](std::size_t i) {
        return paths[i] + " is " + (versions[i].empty() ? "missing" : versions[i]);
    };
    std::string skipped;
    std::getline(std::ifstream(folder + ".skipped"), skipped);
    return {{},
            "HAProxy " + std::string(series) + " is not here: " + described(0) + ", and " +
                (skipped.empty() ? described(1) + " (make test runs scripts/fetch-haproxy)"
                                 : "scripts/fetch-haproxy could not fetch it: " + skipped)};
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
