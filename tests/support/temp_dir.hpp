#pragma once

#include <string>
#include <string_view>

namespace vorn::test {

// A fresh directory under /tmp for one test's socket and files, removed with
// everything in it when the object goes. The path stays short enough for a
// unix socket address. An empty path (and a test failure) when it cannot be
// made.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    [[nodiscard]] const std::string& path() const { return path_; }
    // The path of `name` inside the directory.
    [[nodiscard]] std::string file(std::string_view name) const;

private:
    std::string path_;
};

}  // namespace vorn::test
