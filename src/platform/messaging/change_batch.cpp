#include "platform/messaging/change_batch.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qf::mapi {
namespace {

thread_local ChangeBatch* t_current = nullptr;

// Opens the folder (or, when it has gone, its parent) for a sync.
int OpenFolder(const std::string& folder) {
    int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        const auto slash = folder.find_last_of('/');
        if (slash != std::string::npos && slash > 0) {
            fd = ::open(folder.substr(0, slash).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        }
    }
    return fd;
}

// One syncfs per file system among `folders`; returns 0 or the first errno.
int SyncFileSystems(const std::set<std::string>& folders) {
    std::set<dev_t> done;
    int first = 0;
    for (const std::string& folder : folders) {
        const int fd = OpenFolder(folder);
        if (fd < 0) {
            continue; // nothing of the batch can be left in a folder that is gone
        }
        struct stat st {};
        if (::fstat(fd, &st) == 0 && done.insert(st.st_dev).second && ::syncfs(fd) != 0 &&
            first == 0) {
            first = errno;
        }
        ::close(fd);
    }
    return first;
}

int SyncFolders(const std::set<std::string>& folders) {
    int first = 0;
    for (const std::string& folder : folders) {
        const int fd = OpenFolder(folder);
        if (fd >= 0) {
            if (::fsync(fd) != 0 && first == 0) {
                first = errno;
            }
            ::close(fd);
        }
    }
    return first;
}

} // namespace

ChangeBatch::ChangeBatch() : outer_(t_current) {
    t_current = this;
}

ChangeBatch::~ChangeBatch() {
    Commit();
    t_current = outer_;
}

ChangeBatch* ChangeBatch::Current() {
    return t_current;
}

void ChangeBatch::AfterSync(Step step, const std::string& folder) {
    afterSync_.push_back(std::move(step));
    renamedInto_.insert(folder);
}

void ChangeBatch::AfterRenames(Step step) {
    afterRenames_.push_back(std::move(step));
}

int ChangeBatch::Commit() {
    // The steps run without the batch: each is durable on its own terms.
    ChangeBatch* const self = t_current;
    t_current = outer_;
    int err = SyncFileSystems(folders_);
    folders_.clear();
    if (err != 0) {
        afterSync_.clear();
        afterRenames_.clear();
        renamedInto_.clear();
        t_current = self;
        return err;
    }
    for (Step& step : afterSync_) {
        if (const int e = step(); e != 0 && err == 0) {
            err = e;
        }
    }
    afterSync_.clear();
    if (const int e = SyncFolders(renamedInto_); e != 0 && err == 0) {
        err = e;
    }
    renamedInto_.clear();
    for (Step& step : afterRenames_) {
        step();
    }
    afterRenames_.clear();
    t_current = self;
    return err;
}

ImmediateChanges::ImmediateChanges() : suspended_(t_current) {
    if (suspended_) {
        suspended_->Commit(); // the batch's earlier changes go first
    }
    t_current = nullptr;
}

ImmediateChanges::~ImmediateChanges() {
    t_current = suspended_;
}

} // namespace qf::mapi
