#include "app/desktop/cmdline/single_instance.h"

#include "app/desktop/cmdline/command_line.h"
#include "platform/channel/execute_text.h"

#include <cstdio>
#include <filesystem>

namespace qf::desktop {

std::vector<std::string> FilesToHandOver(const std::vector<std::string>& params) {
    std::vector<std::string> files;
    for (const std::string& param : params) {
        const Parameter parameter = ClassifyParameter(param, ParameterSource::CommandLine);
        if (parameter.kind != ParameterKind::OpenFile) {
            return {};
        }
        // The running instance has its own working folder.
        std::error_code ec;
        const auto absolute = std::filesystem::absolute(parameter.text, ec);
        files.push_back(ec ? parameter.text : absolute.lexically_normal().string());
    }
    return files;
}

SingleInstance::SingleInstance(const std::string& executable) {
    const std::string folder = channel::RuntimeFolder();
    if (!folder.empty()) {
        socketPath_ = channel::SocketPath(folder, channel::ServiceName(executable));
    }
}

SingleInstance::~SingleInstance() = default;

bool SingleInstance::HandOver(const std::vector<std::string>& params) {
    const std::vector<std::string> files = FilesToHandOver(params);
    if (socketPath_.empty() || files.empty()) {
        return false;
    }
    for (std::size_t i = 0; i < files.size(); ++i) {
        switch (channel::SendExecute(socketPath_, channel::FileOpenCommand(files[i]))) {
        case channel::SendResult::Delivered:
            break;
        case channel::SendResult::Refused:
            std::fprintf(stderr, "quillfence: the running Quillfence refused %s\n",
                         files[i].c_str());
            break;
        case channel::SendResult::NoInstance:
        case channel::SendResult::NotOwned:
            if (i == 0) {
                return false; // no instance of this user: start one
            }
            std::fprintf(stderr, "quillfence: the running Quillfence ended before %s\n",
                         files[i].c_str());
            break;
        }
    }
    return true;
}

void SingleInstance::Listen(std::function<void(const std::string&)> onExecute) {
    if (socketPath_.empty()) {
        std::fprintf(stderr, "quillfence: no private runtime folder; later starts will not "
                             "reach this window\n");
        return;
    }
    auto server = std::make_unique<channel::InstanceServer>(socketPath_);
    server->onExecute = std::move(onExecute);
    std::string error;
    if (!server->Listen(error)) {
        std::fprintf(stderr, "quillfence: later starts will not reach this window: %s\n",
                     error.c_str());
        return;
    }
    server_ = std::move(server);
}

} // namespace qf::desktop
