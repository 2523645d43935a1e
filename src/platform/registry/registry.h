// The current user's registry: a tree of keys below HKEY_CURRENT_USER, each
// holding named values of three kinds (text, 32-bit integer, bytes).  Key
// paths use "\" between their parts; key and value names compare without
// regard to letter case and keep the case they were first written in.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace qf::registry {

enum class ValueKind { String, Dword, Binary };

struct Value {
    ValueKind kind = ValueKind::String;
    std::string text;                // String
    std::uint32_t dword = 0;         // Dword
    std::vector<std::uint8_t> bytes; // Binary

    static Value String(std::string s);
    static Value Dword(std::uint32_t v);
    static Value Binary(std::vector<std::uint8_t> b);
    bool operator==(const Value&) const = default;
};

// The store as seen by everything above it.  Tests substitute MemoryRegistry.
class Registry {
public:
    virtual ~Registry() = default;

    virtual bool KeyExists(std::string_view key) const = 0;
    // Creates the key and any missing parents.  False for a malformed path.
    virtual bool CreateKey(std::string_view key) = 0;
    // Removes the key with its subkeys and values.  False when it is missing.
    virtual bool DeleteKey(std::string_view key) = 0;
    virtual std::optional<Value> GetValue(std::string_view key, std::string_view name) const = 0;
    // Adds or replaces a value of an existing key.  False when the key is missing.
    virtual bool SetValue(std::string_view key, std::string_view name, Value value) = 0;
    virtual bool DeleteValue(std::string_view key, std::string_view name) = 0;
    virtual std::vector<std::string> ValueNames(std::string_view key) const = 0;
    virtual std::vector<std::string> SubKeyNames(std::string_view key) const = 0;
    // Makes the changes made so far durable.  Throws qf::FileError.
    virtual void Flush() = 0;
};

// A registry held in memory.  The file-backed registry builds on it.
class MemoryRegistry : public Registry {
public:
    bool KeyExists(std::string_view key) const override;
    bool CreateKey(std::string_view key) override;
    bool DeleteKey(std::string_view key) override;
    std::optional<Value> GetValue(std::string_view key, std::string_view name) const override;
    bool SetValue(std::string_view key, std::string_view name, Value value) override;
    bool DeleteValue(std::string_view key, std::string_view name) override;
    std::vector<std::string> ValueNames(std::string_view key) const override;
    std::vector<std::string> SubKeyNames(std::string_view key) const override;
    void Flush() override {}

    // Every key, parents before children, with its values in the order written.
    struct Key {
        std::string path;
        std::vector<std::pair<std::string, Value>> values;
    };
    std::vector<const Key*> Keys() const;

    // "A\\b\\C" with surrounding backslashes removed; nullopt when a part is empty.
    static std::optional<std::string> NormalizeKeyPath(std::string_view key);

protected:
    bool dirty_ = false;

private:
    Key* Find(std::string_view key);
    const Key* Find(std::string_view key) const;
    std::map<std::string, Key> keys_; // by lower-cased path
};

// The registry persisted as a ".reg" export text file.
//
// File format: the first line is "Windows Registry Editor Version 5.00";
// every key is a line "[HKEY_CURRENT_USER\path]" followed by its values, one
// per line: "name"="text", "name"=dword:0000001f (eight hex digits),
// "name"=hex:aa,bb (long lists may continue on the next line after ",\").
// The unnamed value is written @=...  Inside quotes, a backslash is written
// \\ and a double quote \".  Texts may span lines (lists are stored one entry
// per CR LF line), so a carriage return is written \r and a line feed \n;
// no other escapes exist.  Lines starting with ";" are comments.  The file is
// written in UTF-8; a UTF-16LE file with its byte-order mark is read too.
class FileRegistry : public MemoryRegistry {
public:
    enum class Mode { ReadWrite, ReadOnly };

    // Loads `path` when it exists.  What cannot be read is skipped and listed
    // in Warnings(); a missing file is an empty registry.
    explicit FileRegistry(std::string path, Mode mode = Mode::ReadWrite);

    bool CreateKey(std::string_view key) override;
    bool DeleteKey(std::string_view key) override;
    bool SetValue(std::string_view key, std::string_view name, Value value) override;
    bool DeleteValue(std::string_view key, std::string_view name) override;

    // Saves the changes made since the last flush.  Another program may have
    // saved the file meanwhile, so under a lock file the current file is read
    // again, these changes are applied to it, and the result replaces it: in
    // a temporary file beside the target, flushed and renamed over it,
    // readable by the owner only.  Values this program did not change keep
    // what the other one wrote.  A file found damaged is first kept beside it
    // as "<name>.damaged".  Does nothing in ReadOnly mode.
    void Flush() override;

    const std::string& Path() const { return path_; }
    const std::vector<std::string>& Warnings() const { return warnings_; }

private:
    // One change, replayed on the file's current contents when flushing.
    struct Change {
        enum Kind { kCreateKey, kDeleteKey, kSetValue, kDeleteValue } kind;
        std::string key;
        std::string name;
        Value value;
    };

    std::string path_;
    Mode mode_;
    std::vector<std::string> warnings_;
    std::vector<Change> pending_;
};

// Parses the text of a ".reg" file into `into`; each line that cannot be
// used adds a warning "line N: reason".
void ParseRegText(std::string_view text, MemoryRegistry& into, std::vector<std::string>& warnings);
// The ".reg" text of a registry.
std::string FormatRegText(const MemoryRegistry& reg);

// $QUILLFENCE_REGISTRY, else $XDG_CONFIG_HOME/Brindlemox/registry.reg, else
// ~/.config/Brindlemox/registry.reg.
std::string DefaultRegistryPath();

// The registry the program works with.  Until SetCurrent is called it is a
// FileRegistry at DefaultRegistryPath().
Registry& Current();
void SetCurrent(std::shared_ptr<Registry> registry);

// A key opened on a registry, with typed reads and writes.  Reads of a value of another kind throw
// qf::Error "Invalid data type for '<name>'"; reads of a missing value throw
// "Failed to get data for '<name>'".
class RegistryKey {
public:
    explicit RegistryKey(Registry& reg) : reg_(reg) {}
    ~RegistryKey();
    RegistryKey(const RegistryKey&) = delete;
    RegistryKey& operator=(const RegistryKey&) = delete;

    // Opens `path` (creating it when `canCreate`).  False when it is missing
    // and may not be created, or the path is malformed.
    bool OpenKey(std::string_view path, bool canCreate);
    // Closes the key; when anything was written through it, flushes the
    // registry (may throw qf::FileError).
    void CloseKey();
    bool IsOpen() const { return open_; }
    const std::string& CurrentPath() const { return path_; }

    bool ValueExists(std::string_view name) const;
    std::optional<ValueKind> DataType(std::string_view name) const;

    std::string ReadString(std::string_view name) const;
    std::int32_t ReadInteger(std::string_view name) const;
    bool ReadBool(std::string_view name) const;
    // Copies a binary value into `buffer`; returns its size.  Throws when the
    // value is not binary or longer than the buffer.
    std::size_t ReadBinaryData(std::string_view name, std::span<std::uint8_t> buffer) const;

    void WriteString(std::string_view name, std::string_view value);
    void WriteInteger(std::string_view name, std::int32_t value);
    void WriteBool(std::string_view name, bool value);
    void WriteBinaryData(std::string_view name, std::span<const std::uint8_t> data);

private:
    Value Get(std::string_view name, ValueKind kind) const;
    void Put(std::string_view name, Value v);

    Registry& reg_;
    std::string path_;
    bool open_ = false;
    bool wrote_ = false;
};

} // namespace qf::registry
