// The one error model of the program's layers: an operation returns its
// value or an error, a code a caller can act on and a message for a person.
// The lower layers say the message in English; a front end may say the
// code in the user's language instead.
#pragma once

#include <QString>
#include <optional>
#include <utility>

namespace kt::shell {

enum class ErrorCode {
    NotFound,    // no such file, key or port
    NotRegular,  // a folder, a FIFO, a device where a file was wanted
    TooLarge,    // larger than anything real can be
    Denied,      // no permission
    Unreadable,  // any other failure to read
    InUse,       // another job holds it
    Unwritable,  // cannot be written or made
    Invalid,     // a text that is not what it must be
    Unreachable, // a server or remote that cannot be reached, or did not answer
    Untrusted,   // a file another user could have written: nothing of it is used
};

struct Error {
    ErrorCode code = ErrorCode::Invalid;
    QString message;      // for a person, in English
    QString subject = {}; // the file or port it concerns, when there is one
    QString reason = {};  // the system's own words for a failure, when it gave any
};

// A value, or the error that stood in its way.
template <typename T> class [[nodiscard]] Result {
  public:
    Result(T value) : value_(std::move(value)) {}
    Result(Error error) : error_(std::move(error)) {}

    bool ok() const { return value_.has_value(); }
    explicit operator bool() const { return ok(); }
    const T& value() const { return *value_; }
    const T& operator*() const { return *value_; }
    const T* operator->() const { return &*value_; }
    T valueOr(T other) const { return value_ ? *value_ : std::move(other); }
    // The error; meaningful only when !ok().
    const Error& error() const { return error_; }

  private:
    std::optional<T> value_;
    Error error_;
};

// Done, or the error that stood in the way.
struct Done {};
using Status = Result<Done>;
inline Status done() {
    return Done{};
}

} // namespace kt::shell
