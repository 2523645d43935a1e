// Handing a file, a document or a web address to the desktop: open it with
// the application the desktop associates with it (falling back to a text
// editor), or print it.  Programs are started from argument vectors, never
// through a shell.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace qf {

// Result codes of ShellRun: above 32 means the file was handed over or the
// program started; the others say why not.
inline constexpr int kShellOk = 42;
inline constexpr int kShellFileNotFound = 2;
inline constexpr int kShellAccessDenied = 5;
inline constexpr int kShellNoAssociation = 31;
inline constexpr int kShellFailed = 0;

// How a started program's window should appear.  Linux desktops leave that to
// the program itself: the mode is accepted and not passed on.
enum class ShowMode { Show, Hidden, Minimized };

// With no parameters: opens `file` (a path, document or web address) with the
// desktop's handler (xdg-open).  With parameters: starts the program `file`
// with them.  `folder`, when not empty, is the working folder.  Returns a
// result code (see above).
int ShellRun(const std::string& file, const std::vector<std::string>& parameters,
             const std::string& folder, ShowMode mode);

// Opens `text` with the desktop's handler and returns true; when that fails,
// opens it in a text editor and returns false; when that fails too, puts the
// text on the clipboard and throws Error "Shell command failed. It has been
// copied to the clipboard.\r\n<text>".
bool ShellOpen(const std::string& text);

// Prints `file` through CUPS (lp); true when the print request was accepted.
// Printing itself is not awaited.
bool ShellPrint(const std::string& file);

// The program used when the desktop's handler fails: $QUILLFENCE_TEXT_EDITOR,
// else the first graphical text editor found on PATH; empty when none.
std::string TextEditorProgram();

// Puts text on the system clipboard; returns false when it could not.  The
// desktop program installs one; without it nothing is copied.
using ClipboardWriter = std::function<bool(const std::string&)>;
void SetClipboardWriter(ClipboardWriter writer);

} // namespace qf
