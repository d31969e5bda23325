#include "inspection/parallelpool.h"

#include <opencv2/core.hpp>
#include <opencv2/core/utility.hpp>
#include <opencv2/core/parallel/parallel_backend.hpp>

#include <linux/futex.h>
#include <sched.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <climits>
#include <cstdint>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define STATION_CPU_PAUSE() _mm_pause()
#else
#define STATION_CPU_PAUSE() std::atomic_signal_fence(std::memory_order_seq_cst)
#endif

namespace {

using Clock = std::chrono::steady_clock;

// How long a worker that finished a loop watches for the next one before it
// sleeps, outside hot sections: long enough for loops that follow each other
// closely, short because every loop costs each idle worker this much.
constexpr auto kWatch = std::chrono::microseconds(50);
// A watching worker gives its core to other runnable threads this often: the
// cameras' own threads judge frames beside the workers.
constexpr int kPausesPerYield = 256;
constexpr int kPausesPerCheck = 64;

long futex(std::atomic<uint32_t>* word, int op, uint32_t value)
{
    static_assert(sizeof(std::atomic<uint32_t>) == sizeof(uint32_t), "futex word");
    return syscall(SYS_futex, reinterpret_cast<uint32_t*>(word), op | FUTEX_PRIVATE_FLAG, value, nullptr, nullptr, 0);
}

thread_local int tlsWorkerIndex = 0;

class StationPool final : public cv::parallel::ParallelForAPI
{
public:
    StationPool() : threads_(defaultThreads()) {}

    void parallel_for(int tasks, FN_parallel_for_body_cb_t body, void* data) override
    {
        loops_.fetch_add(1);
        // The other threads in hot sections keep their cores busy: a loop
        // takes only the cores left, and runs on its caller when none are.
        const int joinLimit = threads_.load() - std::max(0, hot_.load() - 1);
        bool idle = false;
        // The library already runs a loop started inside another loop on the
        // caller; this covers any other way two loops could meet.
        if (tasks <= 1 || joinLimit <= 1 || !busy_.compare_exchange_strong(idle, true)) {
            body(0, tasks, data);
            return;
        }
        ensureWorkers();
        Job job;
        job.tasks = tasks;
        job.body = body;
        job.data = data;
        job.joinLimit = joinLimit;
        current_.store(&job);
        epoch_.fetch_add(1);
        // One sleeper is woken, and each worker that finds tasks left wakes
        // the next: a short loop is done before most would be up, and costs
        // them nothing. In a hot section the workers that may join are up.
        if (sleepers_.load() > 0)
            wakeOne();
        runTasks(job);
        waitUntil([&] { return job.done.load() >= tasks; });
        current_.store(nullptr);
        // No worker may still hold the job once it leaves this frame.
        waitUntil([&] { return inJob_.load() == 0; });
        busy_.store(false);
        if (job.failure)
            std::rethrow_exception(job.failure);
    }

    int getThreadNum() const override { return tlsWorkerIndex; }
    int getNumThreads() const override { return threads_.load(); }

    int setNumThreads(int n) override
    {
        threads_.store(n <= 0 ? defaultThreads() : n);
        return threads_.load();
    }

    const char* getName() const override { return "station"; }
    long loops() const { return loops_.load(); }

    void hot(int delta)
    {
        if (hot_.fetch_add(delta) == 0 && delta > 0 && sleepers_.load() > 0) {
            epoch_.fetch_add(1);
            wakeAll();
        }
    }

private:
    struct Job {
        int tasks = 0;
        FN_parallel_for_body_cb_t body = nullptr;
        void* data = nullptr;
        int joinLimit = 1;
        std::atomic<int> next{0}, done{0};
        std::mutex failureLock;
        std::exception_ptr failure;
    };

    static int defaultThreads() { return std::max(1, cv::getNumberOfCPUs()); }

    // Guided: each take is a share of what is left, so that a loop of a
    // few thousand one-row stripes costs a few hundred takes, and the last
    // takes are small enough for the threads to finish together. A loop of
    // a few dozen stripes (the detector's) is taken one by one: its stripes
    // differ in cost.
    static void runTasks(Job& job)
    {
        const int parts = 8 * std::max(1, job.joinLimit);
        int start = job.next.load();
        while (start < job.tasks) {
            const int count = std::max(1, (job.tasks - start) / parts);
            if (!job.next.compare_exchange_weak(start, start + count))
                continue;
            try {
                job.body(start, start + count, job.data);
            } catch (...) {
                std::lock_guard<std::mutex> lock(job.failureLock);
                if (!job.failure)
                    job.failure = std::current_exception();
            }
            job.done.fetch_add(count);
            start = job.next.load();
        }
    }

    template <class Done>
    static void waitUntil(Done done)
    {
        for (int n = 1; !done(); ++n) {
            STATION_CPU_PAUSE();
            if (n % kPausesPerYield == 0)
                sched_yield();
        }
    }

    // Each thread in a hot section keeps a core busy itself, and the library
    // runs only one loop side by side at a time (the others' loops run on
    // their own threads): so only as many workers watch as there are cores
    // left. Eight cameras aligning at once on 8 cores leave none, and the
    // workers sleep as outside a hot section.
    bool watchesHot(int index) const
    {
        const int hot = hot_.load();
        return hot > 0 && index + hot <= threads_.load();
    }

    void wakeAll() { futex(&epoch_, FUTEX_WAKE, INT_MAX); }
    void wakeOne() { futex(&epoch_, FUTEX_WAKE, 1); }

    // Workers start with the first loop that needs them, and more start when
    // the thread count is raised.
    void ensureWorkers()
    {
        const int want = threads_.load() - 1;
        if (int(started_.load()) >= want)
            return;
        std::lock_guard<std::mutex> lock(startLock_);
        while (int(workers_.size()) < want) {
            const int index = int(workers_.size()) + 1;
            workers_.emplace_back([this, index] { work(index); });
        }
        started_.store(int(workers_.size()));
    }

    void work(int index)
    {
        tlsWorkerIndex = index;
        uint32_t seen = epoch_.load();
        for (;;) {
            Clock::time_point since = Clock::now();
            for (int n = 1; epoch_.load() == seen; ++n) {
                STATION_CPU_PAUSE();
                if (n % kPausesPerCheck != 0)
                    continue;
                if (n % kPausesPerYield == 0)
                    sched_yield();
                if (watchesHot(index)) {
                    since = Clock::now();
                    continue;
                }
                if (Clock::now() - since < kWatch)
                    continue;
                sleepers_.fetch_add(1);
                if (epoch_.load() == seen && !watchesHot(index))
                    futex(&epoch_, FUTEX_WAIT, seen);
                sleepers_.fetch_sub(1);
                since = Clock::now();
            }
            seen = epoch_.load();
            inJob_.fetch_add(1);
            if (Job* job = current_.load(); job && index < job->joinLimit) {
                if (job->next.load() < job->tasks && sleepers_.load() > 0)
                    wakeOne();
                runTasks(*job);
            }
            inJob_.fetch_sub(1);
        }
    }

    std::atomic<int> threads_;
    std::atomic<uint32_t> epoch_{0};
    std::atomic<int> sleepers_{0}, inJob_{0}, hot_{0}, started_{0};
    std::atomic<Job*> current_{nullptr};
    std::atomic<bool> busy_{false};
    std::atomic<long> loops_{0};
    std::mutex startLock_;
    std::vector<std::thread> workers_;
};

// Never destroyed: its workers watch it until the process ends, and the
// library may run a loop from another library's exit code.
StationPool* const installedPool = [] {
    auto* pool = new StationPool;
    // Before main: the library allows its loops' backend to be replaced only
    // while nothing else runs.
    cv::parallel::setParallelForBackend(std::shared_ptr<StationPool>(pool, [](StationPool*) {}));
    return pool;
}();

} // namespace

bool parallelPoolActive()
{
    if (!installedPool || cv::getNumThreads() < 2)
        return false;
    // The library names no backend; a loop of two tasks shows whose it is.
    const long before = installedPool->loops();
    cv::parallel_for_(cv::Range(0, 2), [](const cv::Range&) {}, 2);
    return installedPool->loops() > before;
}

ParallelHotSection::ParallelHotSection()
{
    if (installedPool) // null only while the program is still being loaded
        installedPool->hot(1);
}

ParallelHotSection::~ParallelHotSection()
{
    if (installedPool)
        installedPool->hot(-1);
}
