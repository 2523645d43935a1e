#include "platform/messaging/mime/streams.h"

#include <algorithm>
#include <cstring>

namespace qf::mapi::mime {

namespace {

// Copies up to `count` bytes of `data` from `pos` on, and moves `pos` past them.
HRESULT ReadAt(const std::string& data, std::size_t& pos, void* buffer, std::uint32_t count,
               std::uint32_t* read) {
    const std::size_t n = std::min<std::size_t>(count, data.size() - pos);
    if (n > 0) {
        std::memcpy(buffer, data.data() + pos, n);
    }
    pos += n;
    if (read != nullptr) {
        *read = static_cast<std::uint32_t>(n);
    }
    return S_OK;
}

} // namespace

HRESULT ReadStream::Read(void* buffer, std::uint32_t count, std::uint32_t* read) {
    return ReadAt(data_, pos_, buffer, count, read);
}

HRESULT ReadStream::Write(const void*, std::uint32_t, std::uint32_t* written) {
    if (written != nullptr) {
        *written = 0;
    }
    return STG_E_ACCESSDENIED;
}

HRESULT WriteStream::Read(void* buffer, std::uint32_t count, std::uint32_t* read) {
    return ReadAt(data_, pos_, buffer, count, read);
}

HRESULT WriteStream::Write(const void* buffer, std::uint32_t count, std::uint32_t* written) {
    if (buffer == nullptr && count > 0) {
        return STG_E_INVALIDPOINTER;
    }
    data_.replace(pos_, std::min<std::size_t>(count, data_.size() - pos_),
                  static_cast<const char*>(buffer), count);
    pos_ += count;
    if (written != nullptr) {
        *written = count;
    }
    return S_OK;
}

HRESULT WriteStream::Commit(std::uint32_t) {
    sink_(data_);
    return S_OK;
}

} // namespace qf::mapi::mime
