// A batch of changes to stored messages made durable together.  While a
// ChangeBatch lives on a thread, the file-based providers change messages on
// that thread without a flush each: new message files wait in tmp/ unflushed,
// folder syncs are noted, and the steps that may only follow durability
// (renaming the new files into place, then removing the files they replace)
// wait for Commit(), which makes the batch durable with one sync per file
// system.  Providers that write elsewhere (a server) ignore it.
#pragma once

#include <functional>
#include <set>
#include <string>
#include <vector>

namespace qf::mapi {

class ChangeBatch {
public:
    // A step after the sync: returns 0 or an errno.
    using Step = std::function<int()>;

    ChangeBatch();
    // Commits what is still pending (a failure then is not reported: the
    // providers' listing finishes an interrupted replacement).
    ~ChangeBatch();
    ChangeBatch(const ChangeBatch&) = delete;
    ChangeBatch& operator=(const ChangeBatch&) = delete;

    // The batch of this thread, or null.
    static ChangeBatch* Current();

    // Notes that a file in `folder` was written or renamed: its file system is
    // synced at the commit.
    void Touched(const std::string& folder) { folders_.insert(folder); }
    // Runs `step` after the sync; then the folders the steps name are synced.
    void AfterSync(Step step, const std::string& folder);
    // Runs `step` once the AfterSync steps are durable.
    void AfterRenames(Step step);

    // Syncs each file system touched, runs the AfterSync steps, syncs their
    // folders, then runs the AfterRenames steps.  Returns 0 or the first
    // errno; after a failed sync nothing waiting is done.
    int Commit();

private:
    std::set<std::string> folders_;
    std::vector<Step> afterSync_;
    std::set<std::string> renamedInto_;
    std::vector<Step> afterRenames_;
    ChangeBatch* outer_ = nullptr;
};

// Suspends the thread's batch for a change that must be durable step by step
// (a copy to another store, whose original is removed at once).
class ImmediateChanges {
public:
    ImmediateChanges();
    ~ImmediateChanges();
    ImmediateChanges(const ImmediateChanges&) = delete;
    ImmediateChanges& operator=(const ImmediateChanges&) = delete;

private:
    ChangeBatch* suspended_ = nullptr;
};

} // namespace qf::mapi
