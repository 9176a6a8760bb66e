#include "receipt/load_receipt_keys.hpp"

#include "observe/log.hpp"

namespace vorn {

void loadReceiptKeys(std::string_view reason, std::string_view path, ChallengeMode mode,
                     ReceiptKeySet& current) {
    auto loaded = readReceiptKeys(path);
    LogMessage message;
    if (loaded) {
        current = std::move(*loaded);
        message.text(reason).text(": ").number(current.size());
        message.text(" receipt key(s) from ").text(path);
        logMessage(LogLevel::info, message.view());
    } else if (mode != ChallengeMode::off) {
        message.text(reason).text(": receipt keys ").text(path).text(": ");
        message.text(errorName(loaded.error())).text("; keeping ").number(current.size());
        message.text(" key(s)");
        logMessage(LogLevel::warning, message.view());
    }
    if (mode == ChallengeMode::on && current.size() == 0) {
        logMessage(LogLevel::error, "--challenge=on without receipt keys: challenges are not sent");
    }
}

}  // namespace vorn
