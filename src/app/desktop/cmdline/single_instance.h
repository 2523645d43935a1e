// One running quillfence per user: a later start that only names options
// files hands them to the running window (as FileOpen execute texts over the
// instance channel) and ends; otherwise it starts and listens for later
// starts itself.
#pragma once

#include "platform/channel/instance_channel.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace qf::desktop {

// The options files a start would hand over, as absolute paths: every
// parameter must name one.  Empty when the start does anything else.
std::vector<std::string> FilesToHandOver(const std::vector<std::string>& params);

class SingleInstance {
public:
    // The channel of `executable`'s service in the user's runtime folder.
    explicit SingleInstance(const std::string& executable);
    ~SingleInstance();
    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;

    // True when an instance runs and took the parameters' files: this start
    // has nothing left to do.
    bool HandOver(const std::vector<std::string>& params);
    // Listens for later starts; `onExecute` gets each text on this thread.
    // Without a channel (another instance listens, no safe folder) the
    // program runs on alone, which is said on standard error.
    void Listen(std::function<void(const std::string&)> onExecute);
    const std::string& SocketPath() const { return socketPath_; }

private:
    std::string socketPath_;
    std::unique_ptr<channel::InstanceServer> server_;
};

} // namespace qf::desktop
