// Reading and writing the ".reg" export text of the registry.
#include "common/error.h"
#include "common/fileio.h"
#include "common/text.h"
#include "common/xdg.h"
#include "platform/registry/registry.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qf::registry {
namespace {

constexpr std::string_view kHeader = "Windows Registry Editor Version 5.00";
constexpr std::string_view kOldHeader = "REGEDIT4";
constexpr std::string_view kRoot = "HKEY_CURRENT_USER";

int HexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

std::string_view TrimSpaces(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) {
        s.remove_prefix(1);
    }
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) {
        s.remove_suffix(1);
    }
    return s;
}

// Reads a quoted text starting at s[0] == '"'.  On success returns the text
// and leaves `rest` after the closing quote.
std::optional<std::string> ReadQuoted(std::string_view s, std::string_view& rest) {
    std::string out;
    for (size_t i = 1; i < s.size(); ++i) {
        char c = s[i];
        if (c == '"') {
            rest = s.substr(i + 1);
            return out;
        }
        if (c == '\\' && i + 1 < s.size()) {
            char n = s[++i];
            switch (n) {
            case '\\':
                out += '\\';
                break;
            case '"':
                out += '"';
                break;
            case 'r':
                out += '\r';
                break;
            case 'n':
                out += '\n';
                break;
            default: // not an escape of ours: keep both characters
                out += '\\';
                out += n;
            }
            continue;
        }
        out += c;
    }
    return std::nullopt;
}

std::string Quote(std::string_view s) {
    std::string out = "\"";
    for (char c : s) {
        switch (c) {
        case '\\':
            out += "\\\\";
            break;
        case '"':
            out += "\\\"";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\n':
            out += "\\n";
            break;
        default:
            out += c;
        }
    }
    out += '"';
    return out;
}

// Parses the data after "=".  Returns nullopt with `why` set on failure.
std::optional<Value> ParseData(std::string_view data, std::string& why) {
    data = TrimSpaces(data);
    if (data.starts_with('"')) {
        std::string_view rest;
        auto text = ReadQuoted(data, rest);
        if (!text) {
            why = "unterminated text";
            return std::nullopt;
        }
        if (!TrimSpaces(rest).empty()) {
            why = "unexpected characters after the text";
            return std::nullopt;
        }
        return Value::String(std::move(*text));
    }
    if (data.starts_with("dword:")) {
        std::string_view digits = data.substr(6);
        if (digits.size() != 8) {
            why = "a dword needs eight hex digits";
            return std::nullopt;
        }
        std::uint32_t v = 0;
        for (char c : digits) {
            int d = HexDigit(c);
            if (d < 0) {
                why = "a dword needs eight hex digits";
                return std::nullopt;
            }
            v = v << 4 | static_cast<std::uint32_t>(d);
        }
        return Value::Dword(v);
    }
    if (data.starts_with("hex:")) {
        std::string_view list = data.substr(4);
        std::vector<std::uint8_t> bytes;
        size_t i = 0;
        while (i < list.size()) {
            std::string_view item = list.substr(i, list.find(',', i) - i);
            item = TrimSpaces(item);
            if (item.size() != 2 || HexDigit(item[0]) < 0 || HexDigit(item[1]) < 0) {
                why = "a byte needs two hex digits";
                return std::nullopt;
            }
            bytes.push_back(static_cast<std::uint8_t>(HexDigit(item[0]) * 16 + HexDigit(item[1])));
            size_t comma = list.find(',', i);
            if (comma == std::string_view::npos) {
                break;
            }
            i = comma + 1;
            if (TrimSpaces(list.substr(i)).empty()) {
                why = "the byte list ends with a comma";
                return std::nullopt;
            }
        }
        return Value::Binary(std::move(bytes));
    }
    if (data == "-") {
        why = "deleting values is not supported here";
        return std::nullopt;
    }
    if (data.starts_with("hex(")) {
        why = "this value kind is not supported";
        return std::nullopt;
    }
    why = "unknown value data";
    return std::nullopt;
}

std::string Utf16FileToUtf8(std::string_view bytes) {
    std::u16string wide;
    wide.reserve(bytes.size() / 2);
    for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
        wide += static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                      static_cast<unsigned char>(bytes[i + 1]) << 8);
    }
    return Utf16ToUtf8(wide);
}

std::string HexLine(const std::vector<std::uint8_t>& bytes) {
    static const char* digits = "0123456789abcdef";
    std::string out = "hex:";
    for (size_t i = 0; i < bytes.size(); ++i) {
        if (i) {
            out += ',';
        }
        out += digits[bytes[i] >> 4];
        out += digits[bytes[i] & 15];
    }
    return out;
}

} // namespace

void ParseRegText(std::string_view text, MemoryRegistry& into, std::vector<std::string>& warnings) {
    std::string converted;
    if (text.starts_with("\xFF\xFE")) {
        converted = Utf16FileToUtf8(text.substr(2));
        text = converted;
    } else if (text.starts_with("\xEF\xBB\xBF")) {
        text.remove_prefix(3);
    }

    // Split into physical lines (LF or CR LF).
    std::vector<std::string_view> lines;
    // Every line the writer makes ends with a line feed; a byte list on a
    // last line without one may have lost bytes at the end.
    const bool lastLineEnded = text.empty() || text.back() == '\n';
    for (size_t pos = 0; pos <= text.size();) {
        size_t nl = text.find('\n', pos);
        std::string_view line = text.substr(pos, nl == std::string_view::npos ? nl : nl - pos);
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        lines.push_back(line);
        if (nl == std::string_view::npos) {
            break;
        }
        pos = nl + 1;
    }

    auto warn = [&](size_t lineNo, const std::string& why) {
        warnings.push_back("line " + std::to_string(lineNo) + ": " + why);
    };

    std::optional<std::string> section; // current key, or none
    bool sawHeader = false;
    for (size_t n = 0; n < lines.size(); ++n) {
        const size_t lineNo = n + 1;
        std::string_view line = TrimSpaces(lines[n]);
        if (line.empty() || line.starts_with(';')) {
            continue;
        }
        if (!sawHeader) {
            sawHeader = true;
            if (line == kHeader || line == kOldHeader) {
                continue;
            }
            warn(lineNo, "the file does not start with \"" + std::string(kHeader) + "\"");
        }
        if (line.starts_with('[')) {
            section.reset();
            if (!line.ends_with(']')) {
                warn(lineNo, "key line without its closing \"]\"; its values are skipped");
                continue;
            }
            std::string_view path = line.substr(1, line.size() - 2);
            if (path.starts_with('-')) {
                warn(lineNo, "deleting keys is not supported here; its values are skipped");
                continue;
            }
            const size_t rootLen = kRoot.size();
            if (path.size() < rootLen || !EqualsNoCase(path.substr(0, rootLen), kRoot) ||
                (path.size() > rootLen && path[rootLen] != '\\')) {
                warn(lineNo, "only keys of HKEY_CURRENT_USER are kept; its values are skipped");
                continue;
            }
            path.remove_prefix(rootLen);
            auto norm = MemoryRegistry::NormalizeKeyPath(path);
            if (!norm) {
                warn(lineNo, "malformed key path; its values are skipped");
                continue;
            }
            into.CreateKey(*norm);
            section = *norm;
            continue;
        }

        // A value line: "name"=data or @=data.
        std::string name;
        std::string_view rest;
        if (line.starts_with('@')) {
            rest = line.substr(1);
        } else if (line.starts_with('"')) {
            auto quoted = ReadQuoted(line, rest);
            if (!quoted) {
                warn(lineNo, "unterminated value name");
                continue;
            }
            name = std::move(*quoted);
        } else {
            warn(lineNo, "not a key, a value or a comment");
            continue;
        }
        rest = TrimSpaces(rest);
        if (!rest.starts_with('=')) {
            warn(lineNo, "value name without \"=\"");
            continue;
        }
        std::string data(TrimSpaces(rest.substr(1)));
        // A byte list continues on the next line after a trailing backslash.
        size_t last = n;
        if (data.starts_with("hex")) {
            while (data.ends_with('\\') && last + 1 < lines.size()) {
                data.pop_back();
                data += TrimSpaces(lines[++last]);
            }
            if (data.ends_with('\\')) {
                data.pop_back();
                data += ','; // cut after the continuation: report as damaged
            }
            if (last + 1 == lines.size() && !lastLineEnded) {
                warn(lineNo, "value \"" + name + "\": the byte list is cut; skipped");
                n = last;
                continue;
            }
        }
        n = last;
        std::string why;
        auto value = ParseData(data, why);
        if (!value) {
            warn(lineNo, "value \"" + name + "\": " + why + "; skipped");
            continue;
        }
        if (!section) {
            warn(lineNo, "value \"" + name + "\" outside any key; skipped");
            continue;
        }
        into.SetValue(*section, name, std::move(*value));
    }
}

std::string FormatRegText(const MemoryRegistry& reg) {
    std::string out(kHeader);
    out += "\n; Quillfence's registry.  In quoted texts \\\\ stands for a backslash, \\\" for a\n"
           "; double quote, \\r for a carriage return and \\n for a line feed.\n";
    for (const auto* key : reg.Keys()) {
        out += "\n[";
        out += kRoot;
        out += '\\';
        out += key->path;
        out += "]\n";
        for (const auto& [name, value] : key->values) {
            out += name.empty() ? std::string("@") : Quote(name);
            out += '=';
            switch (value.kind) {
            case ValueKind::String:
                out += Quote(value.text);
                break;
            case ValueKind::Dword: {
                char buf[16];
                std::snprintf(buf, sizeof buf, "dword:%08x", value.dword);
                out += buf;
                break;
            }
            case ValueKind::Binary:
                out += HexLine(value.bytes);
                break;
            }
            out += '\n';
        }
    }
    return out;
}

namespace {

// Reads the registry file into `into`.  Returns the text when it was
// damaged (so it can be kept), else "".
std::string LoadRegFile(const std::string& path, MemoryRegistry& into,
                        std::vector<std::string>& warnings) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        if (errno != ENOENT) {
            warnings.push_back("cannot read " + path + ": " + std::strerror(errno));
        }
        return {};
    }
    std::string text;
    try {
        text = ReadFileBytes(path);
    } catch (const Error& e) {
        warnings.push_back(e.what());
        return {};
    }
    const size_t before = warnings.size();
    ParseRegText(text, into, warnings);
    return warnings.size() > before ? text : std::string();
}

// Holds an exclusive lock on "<path>.lock" while a save reads and replaces
// the file, so two programs saving at once never lose each other's values.
class SaveLock {
public:
    explicit SaveLock(const std::string& path) {
        fd_ = ::open((path + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (fd_ < 0) {
            ThrowSystemError("Cannot create file", path + ".lock", errno);
        }
        while (::flock(fd_, LOCK_EX) != 0) {
            if (errno != EINTR) {
                const int err = errno;
                ::close(fd_);
                ThrowSystemError("Cannot lock file", path + ".lock", err);
            }
        }
    }
    ~SaveLock() { ::close(fd_); }
    SaveLock(const SaveLock&) = delete;
    SaveLock& operator=(const SaveLock&) = delete;

private:
    int fd_ = -1;
};

} // namespace

FileRegistry::FileRegistry(std::string path, Mode mode) : path_(std::move(path)), mode_(mode) {
    LoadRegFile(path_, *this, warnings_);
    dirty_ = false;
}

bool FileRegistry::CreateKey(std::string_view key) {
    const bool ok = MemoryRegistry::CreateKey(key);
    if (ok) {
        pending_.push_back({Change::kCreateKey, std::string(key), {}, {}});
    }
    return ok;
}

bool FileRegistry::DeleteKey(std::string_view key) {
    const bool ok = MemoryRegistry::DeleteKey(key);
    if (ok) {
        pending_.push_back({Change::kDeleteKey, std::string(key), {}, {}});
    }
    return ok;
}

bool FileRegistry::SetValue(std::string_view key, std::string_view name, Value value) {
    const bool ok = MemoryRegistry::SetValue(key, name, value);
    if (ok) {
        pending_.push_back(
            {Change::kSetValue, std::string(key), std::string(name), std::move(value)});
    }
    return ok;
}

bool FileRegistry::DeleteValue(std::string_view key, std::string_view name) {
    const bool ok = MemoryRegistry::DeleteValue(key, name);
    if (ok) {
        pending_.push_back({Change::kDeleteValue, std::string(key), std::string(name), {}});
    }
    return ok;
}

void FileRegistry::Flush() {
    if (mode_ == Mode::ReadOnly || pending_.empty()) {
        return;
    }
    auto slash = path_.find_last_of('/');
    if (slash != std::string::npos && slash > 0) {
        MakeDirectories(path_.substr(0, slash));
    }
    SaveLock lock(path_);
    MemoryRegistry current;
    std::vector<std::string> warnings;
    const std::string damaged = LoadRegFile(path_, current, warnings);
    if (!damaged.empty()) {
        // What could not be read is kept for a person to look at.
        WriteFileAtomic(path_ + ".damaged", damaged, 0600);
    }
    for (const Change& c : pending_) {
        switch (c.kind) {
        case Change::kCreateKey:
            current.CreateKey(c.key);
            break;
        case Change::kDeleteKey:
            current.DeleteKey(c.key);
            break;
        case Change::kSetValue:
            // The key may have been deleted by the other program: ours wins.
            current.CreateKey(c.key);
            current.SetValue(c.key, c.name, c.value);
            break;
        case Change::kDeleteValue:
            current.DeleteValue(c.key, c.name);
            break;
        }
    }
    // Owner-only when new; a mode the owner gave the file, and a link to it,
    // are kept.
    WriteFileAtomic(path_, FormatRegText(current), 0600, FollowLinks::Yes);
    pending_.clear();
    static_cast<MemoryRegistry&>(*this) = std::move(current);
    dirty_ = false;
}

std::string DefaultRegistryPath() {
    if (const char* p = std::getenv("QUILLFENCE_REGISTRY"); p && *p) {
        return p;
    }
    return XdgConfigHome() + "/Brindlemox/registry.reg";
}

} // namespace qf::registry
