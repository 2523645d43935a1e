// Word-processor instances that convert documents side by side.  Each
// instance serves one document at a time on a thread of its own, so the
// deadline, restart and isolation rules of a single instance hold for each.
// The first instance is the one the run connected (the user's, or one it
// started, as Connect decides); the others are private instances made by
// WordProcessor::NewInstance, started only when documents wait and no
// instance is free, and only while the system has memory for another.
#pragma once

#include "platform/wordproc/word_processor.h"

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <future>
#include <list>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

namespace qf::wordproc {

// The most instances, whatever the machine.
inline constexpr int kMaxInstances = 8;
// What an instance may come to take (LibreOffice levels off near 180 MB):
// a further instance starts only when at least this much memory is available.
inline constexpr std::uint64_t kInstanceMemory = std::uint64_t{512} << 20;

// Instances for this machine: QUILLFENCE_OFFICE_INSTANCES when it holds a
// number from 1 to kMaxInstances (1: a single instance), else one per core
// this process may run on, at most kMaxInstances.
int DefaultInstanceCount();

// The system's available memory (MemAvailable), or nothing when unknown.
std::optional<std::uint64_t> AvailableMemory();

class WordProcessorPool {
public:
    // A piece of work on one instance, run on the instance's thread.
    using Job = std::function<void(WordProcessor&)>;
    // Whether another instance may start now; by default, whether
    // AvailableMemory() is unknown or at least kInstanceMemory.
    using MemoryCheck = std::function<bool()>;

    // `first` is connected; it is used, not owned, and not quit here.  At
    // most `size` instances serve, `first` included.
    WordProcessorPool(WordProcessor& first, int size, MemoryCheck memoryCheck = {});
    // Shuts down as Shutdown does.
    ~WordProcessorPool();
    WordProcessorPool(const WordProcessorPool&) = delete;
    WordProcessorPool& operator=(const WordProcessorPool&) = delete;

    // Queues `job`.  Jobs start in the order they were submitted, each on
    // the first free instance.  The future is ready once the job has ended
    // and its instance is free again (so a job submitted then finds it free);
    // it holds what the job threw.  A job dropped by Shutdown, or submitted
    // after it, leaves its future broken.  Throws std::system_error when not
    // even the first instance's thread can be started.
    std::future<void> Submit(Job job);
    // Drops the jobs that have not started, waits for those that have, ends
    // the threads and quits the instances this pool started.  No job is
    // taken afterwards.
    void Shutdown();

    // Instances serving so far, `first` included.
    int Instances() const;
    // Why a further instance could not be started; empty when none failed.
    std::string StartFailure() const;

private:
    struct Worker {
        WordProcessor* processor = nullptr;
        std::unique_ptr<WordProcessor> own; // a further instance, until it answers
        std::thread thread;
    };

    bool WantsAnotherInstance() const;
    void StartWorker(std::unique_ptr<WordProcessor> own);
    void Serve(Worker& worker);
    bool ConnectOwn(Worker& worker);

    WordProcessor& first_;
    const int size_;
    MemoryCheck memoryCheck_;

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    struct Queued {
        Job job;
        std::promise<void> done;
    };
    std::deque<Queued> queue_;
    std::list<Worker> workers_;
    int idle_ = 0;     // workers waiting for a job
    int starting_ = 0; // further instances not yet answering
    int serving_ = 0;  // instances that answered, `first` included
    bool noMoreInstances_ = false;
    bool stopping_ = false;
    std::string startFailure_;
};

} // namespace qf::wordproc
