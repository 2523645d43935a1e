// Command lines as this program starts other programs from them: one string,
// split into a program and its arguments by the quoting rules below.  The
// filter tool's command line is stored as one such string.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace qf {

// Splits the arguments of a command line: blanks and tabs separate arguments
// outside double quotes; 2n backslashes before a quote give n backslashes and
// the quote toggles quoting, 2n+1 give n backslashes and a literal quote; two
// quotes inside quotes give one quote; other backslashes are kept.
std::vector<std::string> SplitArguments(std::string_view line);

// Splits a whole command line into the program and its arguments.  A quoted
// program name runs to the closing quote.  An unquoted one may hold blanks:
// it is the shortest prefix ending at a blank that `isProgram` accepts, else
// everything up to the first blank.
std::vector<std::string>
SplitCommandLine(std::string_view line,
                 const std::function<bool(const std::string&)>& isProgram = {});

} // namespace qf
