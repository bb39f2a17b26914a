// Outcomes of library calls: a value, or an error with a message that stands on its own.
#pragma once

#include <string>
#include <utility>
#include <variant>

namespace bayercam {

struct Error {
    enum class Kind {
        kFailure,   // the camera or the system could not do it
        kBadValue,  // the caller asked for something that cannot be: a name, a value, a region
        kTimedOut,  // a wait for a frame ran out of time
    };
    std::string message;
    Kind kind = Kind::kFailure;
};

// A value of T or an Error; test it before taking the value.
template <class T>
class Result {
  public:
    Result(T value) : state_(std::move(value)) {}
    Result(Error error) : state_(std::move(error)) {}

    explicit operator bool() const { return state_.index() == 0; }
    const T& value() const& { return std::get<0>(state_); }
    T& value() & { return std::get<0>(state_); }
    T&& value() && { return std::get<0>(std::move(state_)); }
    const Error& error() const { return std::get<1>(state_); }

  private:
    std::variant<T, Error> state_;
};

// The outcome of a call that gives nothing back on success.
struct Done {};
using Status = Result<Done>;

}  // namespace bayercam
