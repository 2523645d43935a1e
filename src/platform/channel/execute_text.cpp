#include "platform/channel/execute_text.h"

#include <algorithm>

namespace qf::channel {

namespace {
constexpr std::string_view kFileOpen = "[FileOpen(\"";
}

std::string FileOpenCommand(std::string_view path) {
    std::string text(kFileOpen);
    text.append(path);
    text.append("\")]");
    return text;
}

std::optional<std::string> ParseFileOpen(std::string_view text) {
    if (text.size() > kMaxExecuteText || text.substr(0, kFileOpen.size()) != kFileOpen) {
        return std::nullopt;
    }
    const std::string_view rest = text.substr(kFileOpen.size());
    const std::size_t quote = rest.find('"');
    if (quote == std::string_view::npos || quote == 0 || quote > kMaxExecutePath) {
        return std::nullopt;
    }
    const std::string_view path = rest.substr(0, quote);
    if (std::any_of(path.begin(), path.end(),
                    [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7f; })) {
        return std::nullopt;
    }
    return std::string(path);
}

} // namespace qf::channel
