#include "platform/wordproc/office_pool.h"

#include <cstdlib>
#include <fstream>
#include <sched.h>
#include <sstream>
#include <system_error>

namespace qf::wordproc {
namespace {

int CoresAvailable() {
    cpu_set_t set;
    CPU_ZERO(&set);
    if (::sched_getaffinity(0, sizeof set, &set) == 0) {
        const int n = CPU_COUNT(&set);
        if (n > 0) {
            return n;
        }
    }
    const unsigned n = std::thread::hardware_concurrency();
    return n > 0 ? static_cast<int>(n) : 1;
}

bool EnoughMemory() {
    const auto available = AvailableMemory();
    return !available || *available >= kInstanceMemory;
}

} // namespace

int DefaultInstanceCount() {
    if (const char* env = std::getenv("QUILLFENCE_OFFICE_INSTANCES"); env && *env) {
        char* end = nullptr;
        const long n = std::strtol(env, &end, 10);
        if (*end == '\0' && n >= 1 && n <= kMaxInstances) {
            return static_cast<int>(n);
        }
    }
    const int cores = CoresAvailable();
    return cores < kMaxInstances ? cores : kMaxInstances;
}

std::optional<std::uint64_t> AvailableMemory() {
    std::ifstream in("/proc/meminfo");
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("MemAvailable:", 0) != 0) {
            continue;
        }
        std::istringstream fields(line.substr(13));
        std::uint64_t kib = 0;
        if (fields >> kib) {
            return kib * 1024;
        }
        break;
    }
    return std::nullopt;
}

WordProcessorPool::WordProcessorPool(WordProcessor& first, int size, MemoryCheck memoryCheck)
    : first_(first), size_(size < 1 ? 1 : size),
      memoryCheck_(memoryCheck ? std::move(memoryCheck) : MemoryCheck(EnoughMemory)) {}

WordProcessorPool::~WordProcessorPool() {
    Shutdown();
}

std::future<void> WordProcessorPool::Submit(Job job) {
    std::unique_ptr<WordProcessor> another;
    std::future<void> done;
    {
        std::lock_guard lock(mutex_);
        Queued& queued = queue_.emplace_back();
        queued.job = std::move(job);
        done = queued.done.get_future();
        if (stopping_) {
            queue_.pop_back();
            return done;
        }
        if (workers_.empty()) {
            StartWorker(nullptr);
        } else if (WantsAnotherInstance()) {
            // Made here, on the caller's thread, from `first`'s options;
            // started on its own thread so the documents waiting go on.
            another = first_.NewInstance();
            if (another) {
                StartWorker(std::move(another));
            } else {
                noMoreInstances_ = true;
            }
        }
    }
    wake_.notify_one();
    return done;
}

// More documents wait than instances are free or starting, and another may start.
bool WordProcessorPool::WantsAnotherInstance() const {
    if (noMoreInstances_ || static_cast<int>(workers_.size()) >= size_) {
        return false;
    }
    const int waiting = static_cast<int>(queue_.size());
    return waiting > idle_ + starting_ && memoryCheck_();
}

void WordProcessorPool::StartWorker(std::unique_ptr<WordProcessor> own) {
    Worker& worker = workers_.emplace_back();
    const bool further = own != nullptr;
    if (further) {
        worker.own = std::move(own);
        ++starting_;
    } else {
        worker.processor = &first_;
        ++serving_;
    }
    try {
        worker.thread = std::thread([this, &worker] { Serve(worker); });
    } catch (const std::system_error&) {
        // No thread to be had: no further instance; without the first, the
        // job cannot be served at all and is not taken.
        workers_.pop_back();
        if (further) {
            --starting_;
            noMoreInstances_ = true;
            return;
        }
        --serving_;
        queue_.pop_back();
        throw;
    }
}

void WordProcessorPool::Serve(Worker& worker) {
    if (worker.own && !ConnectOwn(worker)) {
        return;
    }
    std::unique_lock lock(mutex_);
    for (;;) {
        ++idle_;
        wake_.wait(lock, [this] { return !queue_.empty() || stopping_; });
        --idle_;
        if (stopping_) {
            break;
        }
        Queued queued = std::move(queue_.front());
        queue_.pop_front();
        lock.unlock();
        std::exception_ptr failure;
        try {
            queued.job(*worker.processor);
        } catch (...) {
            failure = std::current_exception();
        }
        // Told under the lock, which is held until this worker waits again:
        // a job submitted by whoever heard finds it free.
        lock.lock();
        if (failure) {
            queued.done.set_exception(failure);
        } else {
            queued.done.set_value();
        }
    }
    lock.unlock();
    if (worker.own) {
        try {
            worker.own->Quit();
        } catch (...) {
            // Quit kills what does not stop when asked; nothing more to do.
        }
    }
}

// Starts a further instance; false when it could not be had (no more are
// tried: the ones serving go on with the documents).
bool WordProcessorPool::ConnectOwn(Worker& worker) {
    std::string failure;
    try {
        worker.own->Connect();
    } catch (const std::exception& e) {
        failure = e.what();
    } catch (...) {
        failure = "the instance could not be started";
    }
    if (!failure.empty()) {
        try {
            worker.own->Quit();
        } catch (...) {
            // Quit kills what does not stop when asked; nothing more to do.
        }
    }
    std::lock_guard lock(mutex_);
    --starting_;
    if (!failure.empty()) {
        noMoreInstances_ = true;
        startFailure_ = failure;
        return false;
    }
    worker.processor = worker.own.get();
    ++serving_;
    return true;
}

void WordProcessorPool::Shutdown() {
    std::list<Worker> workers;
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        queue_.clear();
        workers.splice(workers.end(), workers_);
    }
    wake_.notify_all();
    for (Worker& worker : workers) {
        if (worker.thread.joinable()) {
            worker.thread.join();
        }
    }
}

int WordProcessorPool::Instances() const {
    std::lock_guard lock(mutex_);
    return serving_;
}

std::string WordProcessorPool::StartFailure() const {
    std::lock_guard lock(mutex_);
    return startFailure_;
}

} // namespace qf::wordproc
