// The errors the tool reports to a person, each with the exit status it ends the run with.
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>

namespace bayercam::app {

enum class ExitStatus : int {
    kOk = 0,
    kFailure = 1,  // the command was understood but could not be carried out
    kUsage = 2,    // the command line itself is wrong
};

// Thrown with a message that stands on its own after "bayercam: ".
class ToolError : public std::runtime_error {
  public:
    ToolError(ExitStatus status, const std::string& message)
        : std::runtime_error(message), status_(status) {}

    ExitStatus status() const noexcept { return status_; }

  private:
    ExitStatus status_;
};

// 'text', as names and values are shown in messages.
inline std::string inQuotes(std::string_view text) {
    std::string result(1, '\'');
    result.append(text);
    result.push_back('\'');
    return result;
}

// A command line that asks for something impossible: a malformed or out-of-range argument.
inline ToolError usageError(const std::string& message) {
    return ToolError(ExitStatus::kUsage, message);
}

// A well-formed request that failed: unreadable input, unwritable output, no memory.
inline ToolError failure(const std::string& message) {
    return ToolError(ExitStatus::kFailure, message);
}

}  // namespace bayercam::app
