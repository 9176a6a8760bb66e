#include "gate/return_path.hpp"

#include <algorithm>

#include "token/contract.hpp"

namespace vorn {

std::optional<std::string_view> safeReturnPath(std::optional<std::string_view> text) {
    if (!text) return std::string_view("/");
    const std::string_view path = *text;
    if (path.empty() || path.size() > maxReturnPath || path.front() != '/') return std::nullopt;
    if (path.size() > 1 && (path[1] == '/' || path[1] == '\\')) return std::nullopt;
    const bool printable = std::ranges::all_of(path, [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte > 0x20 && byte < 0x7f && c != '\\';
    });
    if (!printable || path.starts_with(gatewayPrefix)) return std::nullopt;
    return path;
}

}  // namespace vorn
