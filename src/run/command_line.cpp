#include "run/command_line.h"

#include <algorithm>

namespace qf {
namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

} // namespace

std::vector<std::string> SplitArguments(std::string_view line) {
    std::vector<std::string> args;
    size_t i = 0;
    for (;;) {
        while (i < line.size() && IsBlank(line[i])) {
            ++i;
        }
        if (i >= line.size()) {
            break;
        }
        std::string arg;
        bool quoted = false;
        while (i < line.size()) {
            const char c = line[i];
            if (IsBlank(c) && !quoted) {
                break;
            }
            if (c == '\\') {
                size_t n = 0;
                while (i + n < line.size() && line[i + n] == '\\') {
                    ++n;
                }
                if (i + n < line.size() && line[i + n] == '"') {
                    arg.append(n / 2, '\\');
                    if (n % 2 == 1) {
                        arg += '"';
                        i += n + 1;
                        continue;
                    }
                    i += n; // the quote is handled below
                } else {
                    arg.append(n, '\\');
                    i += n;
                    continue;
                }
            }
            if (line[i] == '"') {
                if (quoted && i + 1 < line.size() && line[i + 1] == '"') {
                    arg += '"';
                    i += 2;
                } else {
                    quoted = !quoted;
                    ++i;
                }
                continue;
            }
            arg += line[i];
            ++i;
        }
        args.push_back(std::move(arg));
    }
    return args;
}

std::vector<std::string>
SplitCommandLine(std::string_view line, const std::function<bool(const std::string&)>& isProgram) {
    size_t i = 0;
    while (i < line.size() && IsBlank(line[i])) {
        ++i;
    }
    std::string program;
    size_t rest = line.size();
    if (i < line.size() && line[i] == '"') {
        const size_t close = line.find('"', i + 1);
        program = std::string(line.substr(
            i + 1, close == std::string_view::npos ? std::string_view::npos : close - i - 1));
        rest = close == std::string_view::npos ? line.size() : close + 1;
    } else {
        size_t end = i;
        while (end < line.size() && !IsBlank(line[end])) {
            ++end;
        }
        program = std::string(line.substr(i, end - i));
        rest = end;
        if (isProgram && !isProgram(program)) {
            // Try the longer prefixes, each ending at a blank.
            for (size_t p = end + 1; p <= line.size(); ++p) {
                if ((p < line.size() && !IsBlank(line[p])) || IsBlank(line[p - 1])) {
                    continue;
                }
                std::string candidate(line.substr(i, p - i));
                if (isProgram(candidate)) {
                    program = std::move(candidate);
                    rest = p;
                    break;
                }
            }
        }
    }
    std::vector<std::string> argv{program};
    for (auto& arg : SplitArguments(line.substr(std::min(rest, line.size())))) {
        argv.push_back(std::move(arg));
    }
    return argv;
}

} // namespace qf
