// The execute texts a running instance accepts from another program.  The
// one command is [FileOpen("path")]: open the options file at `path`.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace qf::channel {

// Longest execute text taken from the wire; a longer one is refused unread.
inline constexpr std::size_t kMaxExecuteText = 8192;
// Longest path a FileOpen command may carry.
inline constexpr std::size_t kMaxExecutePath = 4096;

// The command that opens `path`.
std::string FileOpenCommand(std::string_view path);

// The path of a FileOpen command: the text starts with exactly
// [FileOpen(" (letter case as written) and the path runs to the next double
// quote.  Nothing when the text is another command, has no closing quote,
// an empty or overlong path, or a path with control characters.
std::optional<std::string> ParseFileOpen(std::string_view text);

} // namespace qf::channel
