#include "platform/messaging/maildir/names.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <dirent.h>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

namespace qf::mapi::maildir {

namespace {

constexpr const char* kReplacementMark = "_qfr.";

std::string HostPart() {
    char host[256] = {};
    if (::gethostname(host, sizeof host - 1) != 0 || host[0] == '\0') {
        std::strcpy(host, "localhost");
    }
    std::string h(host);
    for (char& c : h) {
        if (c == '/' || c == ':' || c == '.') {
            c = '_';
        }
    }
    return h;
}

} // namespace

MessageFile SplitFileName(const std::string& subdir, const std::string& fileName) {
    MessageFile f;
    f.subdir = subdir;
    f.fileName = fileName;
    const std::size_t colon = fileName.find(':');
    f.unique = fileName.substr(0, colon);
    if (colon != std::string::npos && fileName.compare(colon, 3, ":2,") == 0) {
        f.flags = fileName.substr(colon + 3);
    }
    return f;
}

std::string WithFlags(const std::string& unique, std::string flags) {
    std::sort(flags.begin(), flags.end());
    flags.erase(std::unique(flags.begin(), flags.end()), flags.end());
    return unique + ":2," + flags;
}

std::string NewUniqueName(bool replacement) {
    static unsigned long counter = 0;
    const auto now = std::chrono::system_clock::now().time_since_epoch();
    const auto sec = std::chrono::duration_cast<std::chrono::seconds>(now).count();
    const auto usec = std::chrono::duration_cast<std::chrono::microseconds>(now).count() % 1000000;
    return std::to_string(sec) + ".M" + std::to_string(usec) + "P" + std::to_string(::getpid()) +
           "Q" + std::to_string(++counter) + (replacement ? kReplacementMark : ".") + HostPart();
}

std::vector<MessageFile> ListMessageFiles(const std::string& folderPath) {
    std::vector<MessageFile> files;
    for (const char* sub : {"cur", "new"}) {
        DIR* dir = ::opendir((folderPath + "/" + sub).c_str());
        if (dir == nullptr) {
            continue;
        }
        while (dirent* e = ::readdir(dir)) {
            if (e->d_name[0] == '.') {
                continue;
            }
            if (e->d_type != DT_REG && e->d_type != DT_UNKNOWN) {
                continue;
            }
            files.push_back(SplitFileName(sub, e->d_name));
        }
        ::closedir(dir);
    }
    std::sort(files.begin(), files.end(),
              [](const MessageFile& a, const MessageFile& b) { return a.fileName < b.fileName; });
    return files;
}

bool IsDirectory(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool IsValidFolderName(const std::string& name) {
    if (name.empty()) {
        return true;
    }
    if (name[0] != '.' || name == "." || name == ".." || name.size() > 255 || name.back() == '.') {
        return false;
    }
    for (char c : name) {
        if (c == '/' || c == '\0') {
            return false;
        }
    }
    return name.find("..") == std::string::npos;
}

bool IsValidUniqueName(const std::string& name) {
    if (name.empty() || name[0] == '.' || name.size() > 255) {
        return false;
    }
    for (char c : name) {
        if (c == '/' || c == '\0' || c == ':') {
            return false;
        }
    }
    return true;
}

bool IsReplacementName(const std::string& unique) {
    // Exactly the shape NewUniqueName(true) gives: digits ".M" digits "P"
    // digits "Q" digits, the mark, and a host part without dots.
    std::size_t p = 0;
    const auto digits = [&]() {
        const std::size_t start = p;
        while (p < unique.size() && unique[p] >= '0' && unique[p] <= '9') {
            ++p;
        }
        return p > start;
    };
    const auto literal = [&](std::string_view text) {
        if (unique.compare(p, text.size(), text) != 0) {
            return false;
        }
        p += text.size();
        return true;
    };
    if (!(digits() && literal(".M") && digits() && literal("P") && digits() && literal("Q") &&
          digits() && literal(kReplacementMark))) {
        return false;
    }
    return p < unique.size() && unique.find_first_of("./:", p) == std::string::npos;
}

} // namespace qf::mapi::maildir
