// The component stream of options files: a signature, one component of class
// Settings with an empty name, and the values of its one defined property,
// each a tag byte followed by its data (integers little-endian).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace qf::options {

// Value tags.
enum Tag : std::uint8_t {
    kInt8 = 2,
    kInt16 = 3,
    kInt32 = 4,
    kString = 6,
    kFalse = 8,
    kTrue = 9,
    kLongString = 12,
};

inline constexpr std::string_view kSignature = "TPF0";
inline constexpr std::string_view kClassName = "TSettings";
inline constexpr std::string_view kPropertyName = "TSettings";

// Strings longer than this are refused on reading, whatever the file says.
inline constexpr std::uint32_t kMaxStringLength = 16u << 20;
// Larger files are not options files (a real one is a few kilobytes).
inline constexpr std::size_t kMaxFileSize = 64u << 20;

// Appends values in the shortest encoding.
class ValueWriter {
public:
    void Integer(std::int32_t v);
    void String(std::string_view s);
    void Boolean(bool v);
    void ShortString(std::string_view s); // length byte and text, no tag (names)
    void Byte(std::uint8_t b) { out_ += static_cast<char>(b); }
    void Raw(std::string_view s) { out_ += s; }
    const std::string& Bytes() const { return out_; }

private:
    std::string out_;
};

// Reads values; throws qf::Error "Stream read error" when the bytes run out
// and "Invalid property value" for a value of an unexpected kind.
class ValueReader {
public:
    explicit ValueReader(std::string_view bytes) : in_(bytes) {}
    std::int32_t Integer();
    std::string String();
    bool Boolean();
    std::string ShortString();
    std::uint8_t Byte();
    std::uint8_t PeekByte() const;
    std::size_t Left() const { return in_.size() - pos_; }
    std::size_t Position() const { return pos_; }

private:
    std::string_view Take(std::size_t n);
    std::string_view in_;
    std::size_t pos_ = 0;
};

// "\r\nThis is a Quillfence options file, ... go to <address>\r\n"
std::string Comment();

} // namespace qf::options
