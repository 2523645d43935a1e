// The one error type the program raises: it carries the message a user sees.
#pragma once

#include <stdexcept>
#include <string>

namespace qf {

class Error : public std::runtime_error {
public:
    explicit Error(const std::string& message) : std::runtime_error(message) {}
};

// Raised by the file layer: the message names the path and the system's reason.
class FileError : public Error {
public:
    using Error::Error;
};

// "<what> <path>: <strerror(err)>"
[[noreturn]] void ThrowSystemError(const std::string& what, const std::string& path, int err);

} // namespace qf
