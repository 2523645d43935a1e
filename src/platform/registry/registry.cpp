#include "platform/registry/registry.h"

#include "common/error.h"
#include "common/text.h"

#include <algorithm>
#include <mutex>

namespace qf::registry {

Value Value::String(std::string s) {
    Value v;
    v.kind = ValueKind::String;
    v.text = std::move(s);
    return v;
}

Value Value::Dword(std::uint32_t d) {
    Value v;
    v.kind = ValueKind::Dword;
    v.dword = d;
    return v;
}

Value Value::Binary(std::vector<std::uint8_t> b) {
    Value v;
    v.kind = ValueKind::Binary;
    v.bytes = std::move(b);
    return v;
}

// --- MemoryRegistry ---------------------------------------------------------

std::optional<std::string> MemoryRegistry::NormalizeKeyPath(std::string_view key) {
    while (!key.empty() && key.front() == '\\') {
        key.remove_prefix(1);
    }
    while (!key.empty() && key.back() == '\\') {
        key.remove_suffix(1);
    }
    if (key.empty() || key.find("\\\\") != std::string_view::npos) {
        return std::nullopt;
    }
    return std::string(key);
}

MemoryRegistry::Key* MemoryRegistry::Find(std::string_view key) {
    auto norm = NormalizeKeyPath(key);
    if (!norm) {
        return nullptr;
    }
    auto it = keys_.find(ToLowerAscii(*norm));
    return it == keys_.end() ? nullptr : &it->second;
}

const MemoryRegistry::Key* MemoryRegistry::Find(std::string_view key) const {
    return const_cast<MemoryRegistry*>(this)->Find(key);
}

bool MemoryRegistry::KeyExists(std::string_view key) const {
    return Find(key) != nullptr;
}

bool MemoryRegistry::CreateKey(std::string_view key) {
    auto norm = NormalizeKeyPath(key);
    if (!norm) {
        return false;
    }
    // Every parent exists as a key of its own, as in the real registry.
    size_t pos = 0;
    for (;;) {
        size_t slash = norm->find('\\', pos);
        std::string part = norm->substr(0, slash);
        std::string lower = ToLowerAscii(part);
        if (keys_.find(lower) == keys_.end()) {
            keys_.emplace(lower, Key{part, {}});
            dirty_ = true;
        }
        if (slash == std::string::npos) {
            break;
        }
        pos = slash + 1;
    }
    return true;
}

bool MemoryRegistry::DeleteKey(std::string_view key) {
    auto norm = NormalizeKeyPath(key);
    if (!norm) {
        return false;
    }
    const std::string lower = ToLowerAscii(*norm);
    auto it = keys_.find(lower);
    if (it == keys_.end()) {
        return false;
    }
    const std::string prefix = lower + "\\";
    for (auto i = keys_.begin(); i != keys_.end();) {
        if (i->first == lower || i->first.starts_with(prefix)) {
            i = keys_.erase(i);
        } else {
            ++i;
        }
    }
    dirty_ = true;
    return true;
}

std::optional<Value> MemoryRegistry::GetValue(std::string_view key, std::string_view name) const {
    const Key* k = Find(key);
    if (!k) {
        return std::nullopt;
    }
    for (const auto& [n, v] : k->values) {
        if (EqualsNoCase(n, name)) {
            return v;
        }
    }
    return std::nullopt;
}

bool MemoryRegistry::SetValue(std::string_view key, std::string_view name, Value value) {
    Key* k = Find(key);
    if (!k) {
        return false;
    }
    dirty_ = true;
    for (auto& [n, v] : k->values) {
        if (EqualsNoCase(n, name)) {
            v = std::move(value);
            return true;
        }
    }
    k->values.emplace_back(std::string(name), std::move(value));
    return true;
}

bool MemoryRegistry::DeleteValue(std::string_view key, std::string_view name) {
    Key* k = Find(key);
    if (!k) {
        return false;
    }
    auto it = std::find_if(k->values.begin(), k->values.end(),
                           [&](const auto& nv) { return EqualsNoCase(nv.first, name); });
    if (it == k->values.end()) {
        return false;
    }
    k->values.erase(it);
    dirty_ = true;
    return true;
}

std::vector<std::string> MemoryRegistry::ValueNames(std::string_view key) const {
    std::vector<std::string> out;
    if (const Key* k = Find(key)) {
        for (const auto& nv : k->values) {
            out.push_back(nv.first);
        }
    }
    return out;
}

std::vector<std::string> MemoryRegistry::SubKeyNames(std::string_view key) const {
    std::vector<std::string> out;
    const Key* k = Find(key);
    if (!k) {
        return out;
    }
    const std::string prefix = ToLowerAscii(k->path) + "\\";
    for (const auto& [lower, sub] : keys_) {
        if (lower.starts_with(prefix) && lower.find('\\', prefix.size()) == std::string::npos) {
            out.push_back(sub.path.substr(prefix.size()));
        }
    }
    return out;
}

std::vector<const MemoryRegistry::Key*> MemoryRegistry::Keys() const {
    std::vector<const Key*> out;
    for (const auto& kv : keys_) {
        out.push_back(&kv.second);
    }
    return out;
}

// --- The current registry ---------------------------------------------------

namespace {
std::mutex g_currentMutex;
std::shared_ptr<Registry> g_current;
} // namespace

Registry& Current() {
    std::lock_guard lock(g_currentMutex);
    if (!g_current) {
        g_current = std::make_shared<FileRegistry>(DefaultRegistryPath());
    }
    return *g_current;
}

void SetCurrent(std::shared_ptr<Registry> registry) {
    std::lock_guard lock(g_currentMutex);
    g_current = std::move(registry);
}

// --- RegistryKey ------------------------------------------------------------

RegistryKey::~RegistryKey() {
    try {
        CloseKey();
    } catch (const std::exception&) {
        // A destructor cannot report; callers that care close explicitly.
    }
}

bool RegistryKey::OpenKey(std::string_view path, bool canCreate) {
    CloseKey();
    auto norm = MemoryRegistry::NormalizeKeyPath(path);
    if (!norm) {
        return false;
    }
    if (!reg_.KeyExists(*norm)) {
        if (!canCreate || !reg_.CreateKey(*norm)) {
            return false;
        }
        wrote_ = true;
    }
    path_ = *norm;
    open_ = true;
    return true;
}

void RegistryKey::CloseKey() {
    if (!open_) {
        return;
    }
    open_ = false;
    if (wrote_) {
        wrote_ = false;
        reg_.Flush();
    }
}

bool RegistryKey::ValueExists(std::string_view name) const {
    return open_ && reg_.GetValue(path_, name).has_value();
}

std::optional<ValueKind> RegistryKey::DataType(std::string_view name) const {
    if (!open_) {
        return std::nullopt;
    }
    auto v = reg_.GetValue(path_, name);
    if (!v) {
        return std::nullopt;
    }
    return v->kind;
}

Value RegistryKey::Get(std::string_view name, ValueKind kind) const {
    std::optional<Value> holder = open_ ? reg_.GetValue(path_, name) : std::nullopt;
    if (!holder) {
        throw Error("Failed to get data for '" + std::string(name) + "'");
    }
    if (holder->kind != kind) {
        throw Error("Invalid data type for '" + std::string(name) + "'");
    }
    return *holder;
}

std::string RegistryKey::ReadString(std::string_view name) const {
    return Get(name, ValueKind::String).text;
}

std::int32_t RegistryKey::ReadInteger(std::string_view name) const {
    return static_cast<std::int32_t>(Get(name, ValueKind::Dword).dword);
}

bool RegistryKey::ReadBool(std::string_view name) const {
    return ReadInteger(name) != 0;
}

std::size_t RegistryKey::ReadBinaryData(std::string_view name,
                                        std::span<std::uint8_t> buffer) const {
    const Value v = Get(name, ValueKind::Binary);
    if (v.bytes.size() > buffer.size()) {
        throw Error("Failed to get data for '" + std::string(name) + "'");
    }
    std::copy(v.bytes.begin(), v.bytes.end(), buffer.begin());
    return v.bytes.size();
}

void RegistryKey::Put(std::string_view name, Value v) {
    if (!open_ || !reg_.SetValue(path_, name, std::move(v))) {
        throw Error("Failed to set data for '" + std::string(name) + "'");
    }
    wrote_ = true;
}

void RegistryKey::WriteString(std::string_view name, std::string_view value) {
    Put(name, Value::String(std::string(value)));
}

void RegistryKey::WriteInteger(std::string_view name, std::int32_t value) {
    Put(name, Value::Dword(static_cast<std::uint32_t>(value)));
}

void RegistryKey::WriteBool(std::string_view name, bool value) {
    Put(name, Value::Dword(value ? 1 : 0));
}

void RegistryKey::WriteBinaryData(std::string_view name, std::span<const std::uint8_t> data) {
    Put(name, Value::Binary(std::vector<std::uint8_t>(data.begin(), data.end())));
}

} // namespace qf::registry
