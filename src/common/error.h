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
    explicit FileError(const std::string& message, int systemError = 0)
        : Error(message), systemError_(systemError) {}
    // The errno of the failed system call, or 0 when none failed.
    int SystemError() const { return systemError_; }

private:
    int systemError_;
};

// "<what> <path>: <strerror(err)>"
[[noreturn]] void ThrowSystemError(const std::string& what, const std::string& path, int err);

} // namespace qf
