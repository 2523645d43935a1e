#include "common/error.h"

#include <cstring>

namespace qf {

void ThrowSystemError(const std::string& what, const std::string& path, int err) {
    throw FileError(what + " " + path + ": " + std::strerror(err), err);
}

} // namespace qf
