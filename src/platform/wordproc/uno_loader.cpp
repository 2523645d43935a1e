// Finds and loads libqf_wordproc_uno.so: beside the executable's folder in
// lib/ (the layout of the build tree and of an installation), else where the
// build put it.  QUILLFENCE_UNO_MODULE names another file.
#include "platform/wordproc/uno_bridge.h"

#include <dlfcn.h>
#include <filesystem>
#include <mutex>
#include <stdexcept>
#include <vector>

namespace qf::wordproc {
namespace {

constexpr const char* kModuleName = "libqf_wordproc_uno.so";

std::mutex g_mutex;
UnoConnectFunction g_connect = nullptr;

std::vector<std::string> Candidates() {
    std::vector<std::string> paths;
    if (const char* env = std::getenv("QUILLFENCE_UNO_MODULE"); env && *env) {
        paths.push_back(env);
    }
    std::error_code ec;
    auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (!ec) {
        paths.push_back((exe.parent_path().parent_path() / "lib" / kModuleName).string());
        paths.push_back((exe.parent_path() / kModuleName).string());
    }
#ifdef QF_UNO_MODULE_BUILD_PATH
    paths.push_back(QF_UNO_MODULE_BUILD_PATH);
#endif
    return paths;
}

UnoConnectFunction LoadModule() {
    std::lock_guard lock(g_mutex);
    if (g_connect) {
        return g_connect;
    }
    std::string reasons;
    for (const auto& path : Candidates()) {
        std::error_code ec;
        if (!std::filesystem::exists(path, ec)) {
            continue;
        }
        void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!handle) {
            const char* why = ::dlerror();
            reasons = why ? why : path;
            continue;
        }
        auto fn = reinterpret_cast<UnoConnectFunction>(::dlsym(handle, kUnoConnectSymbol));
        if (!fn) {
            reasons = path + " has no " + kUnoConnectSymbol;
            continue;
        }
        g_connect = fn;
        return fn;
    }
    if (reasons.empty()) {
        reasons = std::string(kModuleName) + " was not found";
    }
    throw std::runtime_error(reasons);
}

} // namespace

void LoadUnoModule() {
    LoadModule();
}

std::unique_ptr<UnoBridge> UnoBridge::Connect(const std::string& pipeName) {
    return std::unique_ptr<UnoBridge>(LoadModule()(pipeName));
}

} // namespace qf::wordproc
