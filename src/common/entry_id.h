// An entry identifier as a stored reference keeps it: the opaque bytes a mail
// store handed out for a store, folder or message, copied and stored, never
// interpreted.  The buffer never holds fewer than 24 bytes: a shorter
// identifier is kept zero-padded to 24.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace qf {

class EntryId {
public:
    static constexpr std::size_t kMinLength = 24;
    // No real identifier comes near this; longer ones read from files are refused.
    static constexpr std::size_t kMaxLength = 65536;

    EntryId() : bytes_(kMinLength, 0) {}
    // The bytes of `bytes`, zero-padded to 24.
    explicit EntryId(const std::vector<std::uint8_t>& bytes) { Assign(bytes); }

    // The length becomes `length`, or 24 when that is less.  An unchanged length
    // keeps the bytes; a changed one starts a zero-filled buffer.
    void SetLength(std::size_t length);
    // A zero-filled buffer of `length` bytes (at least 24), whatever was there.
    void Reset(std::size_t length);
    // Copies `source` into the buffer without changing its length: at most
    // Length() bytes are taken, never more than `sourceSize` are read, and the
    // rest of the buffer becomes zero.  A null source changes nothing.
    void CopyFrom(const std::uint8_t* source, std::size_t sourceSize);
    // SetLength(bytes.size()), then the bytes, zero-padded to the length.
    void Assign(const std::vector<std::uint8_t>& bytes);

    std::size_t Length() const { return bytes_.size(); }
    std::vector<std::uint8_t>& Bytes() { return bytes_; }
    const std::vector<std::uint8_t>& Bytes() const { return bytes_; }
    // True when every byte is zero (a reference that names nothing yet).
    bool IsBlank() const;

    bool operator==(const EntryId&) const = default;

private:
    std::vector<std::uint8_t> bytes_;
};

} // namespace qf
