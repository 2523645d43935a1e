#include "run/output_names.h"

#include "common/text.h"

#include <cwctype>
#include <linux/magic.h>
#include <sys/stat.h>
#include <sys/vfs.h>

namespace qf {
namespace {

constexpr long kNtfs3Magic = 0x7366746e; // "ntfs" of the in-kernel ntfs3 driver

// The last component of a path with the case of its ASCII letters flipped;
// empty when it has none.
std::string FlippedCase(const std::string& path) {
    const std::size_t start = path.rfind('/') + 1;
    std::string flipped = path;
    bool changed = false;
    for (std::size_t i = start; i < flipped.size(); ++i) {
        char& c = flipped[i];
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
            changed = true;
        } else if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
            changed = true;
        }
    }
    return changed ? flipped : std::string();
}

bool KindIgnoresCase(const std::string& path) {
    struct statfs fs {};
    if (::statfs(path.c_str(), &fs) != 0) {
        return false;
    }
    switch (static_cast<unsigned long>(fs.f_type)) {
    case MSDOS_SUPER_MAGIC:
    case EXFAT_SUPER_MAGIC:
    case kNtfs3Magic:
    case SMB_SUPER_MAGIC:
    case CIFS_SUPER_MAGIC:
    case SMB2_SUPER_MAGIC:
        return true;
    default:
        return false;
    }
}

} // namespace

NameMatching NameMatchingOf(const std::string& existingFile) {
    const std::string flipped = FlippedCase(existingFile);
    if (flipped.empty()) {
        return KindIgnoresCase(existingFile) ? NameMatching::IgnoringCase : NameMatching::Exact;
    }
    struct stat original {};
    struct stat other {};
    if (::stat(existingFile.c_str(), &original) != 0) {
        return KindIgnoresCase(existingFile) ? NameMatching::IgnoringCase : NameMatching::Exact;
    }
    const bool same = ::stat(flipped.c_str(), &other) == 0 && other.st_dev == original.st_dev &&
                      other.st_ino == original.st_ino;
    return same ? NameMatching::IgnoringCase : NameMatching::Exact;
}

std::string NameKey(const std::string& path, NameMatching matching) {
    if (matching == NameMatching::Exact) {
        return path;
    }
    if (!IsValidUtf8(path)) {
        return ToLowerAscii(path);
    }
    std::u16string wide = Utf8ToUtf16(path);
    for (char16_t& unit : wide) {
        // Surrogate halves are left alone: the letters outside the basic
        // plane that have a case are too few to matter here.
        if (unit < 0xD800 || unit > 0xDFFF) {
            unit = static_cast<char16_t>(std::towlower(static_cast<wint_t>(unit)));
        }
    }
    return Utf16ToUtf8(wide);
}

void WrittenNames::Add(const std::string& path) {
    if (!matching_) {
        matching_ = NameMatchingOf(path);
    }
    keys_.insert(NameKey(path, *matching_));
}

bool WrittenNames::Contains(const std::string& path) const {
    return matching_ && keys_.count(NameKey(path, *matching_)) != 0;
}

} // namespace qf
