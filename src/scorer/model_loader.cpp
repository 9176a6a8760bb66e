#include "scorer/model_loader.hpp"

#include <expected>
#include <new>
#include <string>

#include "common/whole_file.hpp"
#include "observe/log.hpp"
#include "scorer/model_parser.hpp"

namespace vorn {

namespace {

std::expected<ScorerModel, Error> readModel(std::string_view path) {
    try {
        auto json = readWholeFile(path, modelFileLimit);
        if (!json) return std::unexpected(json.error());
        return parseModel(*json);
    } catch (const std::bad_alloc&) {
        return std::unexpected(Error::OutOfMemory);
    }
}

}  // namespace

void loadModel(std::string_view context, std::string_view path,
               std::optional<ScorerModel>& current) {
    auto model = readModel(path);
    LogMessage message;
    message.text(context);
    if (model) {
        current = std::move(*model);
        message.text(": shadow scorer from ").text(path).text(" (");
        message.number(current->featureCount()).text(" features)");
    } else {
        current.reset();
        message.text(": no shadow scorer at ").text(path).text(" (optional)");
    }
    logMessage(LogLevel::info, message.view());
}

}  // namespace vorn
