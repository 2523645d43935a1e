#include "common/entry_id.h"

#include <algorithm>
#include <cstring>

namespace qf {

void EntryId::SetLength(std::size_t length) {
    const std::size_t size = std::max(length, kMinLength);
    if (size != bytes_.size()) {
        bytes_.assign(size, 0);
    }
}

void EntryId::Reset(std::size_t length) {
    bytes_.assign(std::max(length, kMinLength), 0);
}

void EntryId::CopyFrom(const std::uint8_t* source, std::size_t sourceSize) {
    if (source == nullptr) {
        return;
    }
    const std::size_t n = std::min(sourceSize, bytes_.size());
    std::copy_n(source, n, bytes_.begin());
    std::fill(bytes_.begin() + static_cast<std::ptrdiff_t>(n), bytes_.end(), 0);
}

void EntryId::Assign(const std::vector<std::uint8_t>& bytes) {
    SetLength(bytes.size());
    const auto end = std::copy(bytes.begin(), bytes.end(), bytes_.begin());
    std::fill(end, bytes_.end(), 0);
}

bool EntryId::IsBlank() const {
    return std::all_of(bytes_.begin(), bytes_.end(), [](std::uint8_t b) { return b == 0; });
}

} // namespace qf
