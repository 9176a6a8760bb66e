#include "common/error.hpp"

#include <array>
#include <cerrno>

namespace vorn {

namespace {

constexpr std::array<std::string_view, 29> errorNames = {
    "",
    "InvalidArgument",
    "OutOfMemory",
    "SystemResources",
    "Unexpected",
    "KqueueFailed",
    "SignalInUse",
    "AddressInUse",
    "AccessDenied",
    "NameTooLong",
    "PathNotASocket",
    "SocketError",
    "WaitFailed",
    "Truncated",
    "BadType",
    "WriteFailed",
    "BadKeyLine",
    "DuplicateKeyId",
    "FileNotFound",
    "IsDir",
    "FileTooBig",
    "NotDir",
    "SymLinkLoop",
    "InputOutput",
    "BadJson",
    "DuplicateKey",
    "MissingMember",
    "LengthMismatch",
    "BadNumber",
};

}  // namespace

std::string_view errorName(Error error) {
    auto index = static_cast<std::size_t>(error);
    return index < errorNames.size() ? errorNames[index] : "Unexpected";
}

Error fileSystemError(int errnoValue) {
    switch (errnoValue) {
        case ENOENT:
            return Error::FileNotFound;
        case EACCES:
        case EPERM:
            return Error::AccessDenied;
        case ENAMETOOLONG:
            return Error::NameTooLong;
        case ENOTDIR:
            return Error::NotDir;
        case ELOOP:
            return Error::SymLinkLoop;
        case EISDIR:
            return Error::IsDir;
        case EFBIG:
            return Error::FileTooBig;
        case EIO:
            return Error::InputOutput;
        case ENOMEM:
            return Error::OutOfMemory;
        case ENFILE:
        case EMFILE:
            return Error::SystemResources;
        default:
            return Error::Unexpected;
    }
}

}  // namespace vorn
