#pragma once

#include <cstdint>
#include <string_view>

namespace vorn {

// Every failure the daemon reports has one of these names; the name text is
// what log lines and the final error line print.
enum class Error : std::uint16_t {
    InvalidArgument = 1,
    OutOfMemory,
    SystemResources,
    Unexpected,
    KqueueFailed,
    SignalInUse,
    AddressInUse,
    AccessDenied,
    NameTooLong,
    PathNotASocket,
    SocketError,
    WaitFailed,
    Truncated,
    BadType,
    WriteFailed,
    BadKeyLine,
    DuplicateKeyId,
    FileNotFound,
    IsDir,
    FileTooBig,
    NotDir,
    SymLinkLoop,
    InputOutput,
    BadJson,
    DuplicateKey,
    MissingMember,
    LengthMismatch,
    BadNumber,
};

[[nodiscard]] std::string_view errorName(Error error);

// The name of a failed file-system call's errno (lstat of the socket path,
// reading the key and model files).
[[nodiscard]] Error fileSystemError(int errnoValue);

}  // namespace vorn
