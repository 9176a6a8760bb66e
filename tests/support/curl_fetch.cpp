#include "support/curl_fetch.hpp"

#include <cctype>
#include <sstream>

#include "support/command.hpp"

namespace vorn::test {

using namespace std::chrono_literals;

Fetched curlFetch(const std::string& url, const std::vector<std::string>& extra) {
    std::vector<std::string> command = {"curl", "-s", "-g", "-k", "--max-time", "10", "-D", "-"};
    command.insert(command.end(), extra.begin(), extra.end());
    command.push_back(url);
    auto result = runCommand(command, 15s);
    Fetched fetched;
    if (!result) return fetched;
    const std::string& out = result->output;
    const std::size_t headEnd = out.find("\r\n\r\n");
    std::istringstream lines(out.substr(0, headEnd));
    std::string line;
    while (std::getline(lines, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.starts_with("HTTP/")) {
            fetched.status = std::stoi(line.substr(line.find(' ') + 1, 3));
        } else if (auto colon = line.find(": "); colon != std::string::npos) {
            std::string name = line.substr(0, colon);
            for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            fetched.headers[name] = line.substr(colon + 2);
        }
    }
    if (headEnd != std::string::npos) fetched.body = out.substr(headEnd + 4);
    return fetched;
}

std::vector<std::string> parallelCommitGets(std::uint16_t port, int count,
                                            const std::string& writeOut) {
    std::vector<std::string> command = {"curl",       "-s", "--parallel", "--parallel-max", "16",
                                        "--max-time", "10", "-w",         writeOut};
    for (int i = 0; i < count; ++i) {
        command.push_back("http://127.0.0.1:" + std::to_string(port) + "/o/r/commit/" +
                          std::to_string(1000000 + i));
        command.push_back("-o");
        command.push_back("/dev/null");
    }
    return command;
}

}  // namespace vorn::test
