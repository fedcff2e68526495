// The thread pool behind parallel_for: worker threads that sleep between loops,
// take ranges from a shared counter and report when the last one is done.
#include "parallel/parallel.h"

#include <sched.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

namespace {

// One loop: its body and ranges, and who is still at work on it.
struct Job {
    parallel_detail::RangeFn fn;
    const void* body;
    int64_t n, pieces;
    std::atomic<int64_t> next{0};  // next range to take
    int64_t finished = 0;          // ranges ended (under Pool::m)
    int users = 0;                 // workers inside take_ranges (under Pool::m)
    std::exception_ptr error;      // first exception a range threw (under Pool::m)
};

struct Pool {
    std::mutex m;
    std::condition_variable wake;  // a new loop, for the workers
    std::condition_variable done;  // a loop's last range has ended
    std::vector<std::thread> workers;
    uint64_t generation = 0;       // loops started so far
    Job* job = nullptr;            // the loop being run, if any
    size_t active = 0;             // workers that take part in it
};

int g_threads = 1;
bool g_fine = false;
std::mutex g_run;                     // one loop at a time
thread_local bool t_inside = false;   // this thread is running a range

// Never destroyed: the workers sleep until the process ends.
Pool& pool() {
    static Pool* p = new Pool;
    return *p;
}

// Takes and runs ranges until none is left; returns how many it ran.
int64_t take_ranges(Pool& p, Job& j) {
    int64_t ended = 0;
    for (;;) {
        const int64_t k = j.next.fetch_add(1, std::memory_order_relaxed);
        if (k >= j.pieces) break;
        const int64_t begin = j.n * k / j.pieces, end = j.n * (k + 1) / j.pieces;
        try {
            j.fn(j.body, k, begin, end);
        } catch (...) {
            std::lock_guard<std::mutex> lock(p.m);
            if (!j.error) j.error = std::current_exception();
        }
        ++ended;
    }
    return ended;
}

void worker(Pool& p, size_t index) {
    t_inside = true;
    uint64_t seen = 0;
    for (;;) {
        Job* j;
        {
            std::unique_lock<std::mutex> lock(p.m);
            p.wake.wait(lock, [&] { return p.job && p.generation != seen; });
            seen = p.generation;
            if (index >= p.active) continue;  // a smaller thread count than before
            j = p.job;
            ++j->users;
        }
        const int64_t ended = take_ranges(p, *j);
        std::lock_guard<std::mutex> lock(p.m);
        j->finished += ended;
        if (--j->users == 0 && j->finished == j->pieces) p.done.notify_all();
    }
}

}  // namespace

void set_thread_count(int n) { g_threads = n < 1 ? 1 : n; }

void set_fine_split(bool on) { g_fine = on; }

bool fine_split() { return g_fine; }

int thread_count() { return t_inside ? 1 : g_threads; }

int parse_thread_count(const char* word) {
    int n = 0;
    if (!word || !*word) return 0;
    for (const char* c = word; *c; ++c) {
        if (*c < '0' || *c > '9') return 0;
        n = n * 10 + (*c - '0');
        if (n > 1024) return 0;
    }
    return n;
}

int available_cpus() {
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) != 0) return 1;
    const int n = CPU_COUNT(&set);
    return n < 1 ? 1 : n;
}

namespace parallel_detail {

void run_ranges(int64_t n, int64_t pieces, RangeFn fn, const void* body) {
    std::lock_guard<std::mutex> one(g_run);
    Pool& p = pool();
    Job j;
    j.fn = fn;
    j.body = body;
    j.n = n;
    j.pieces = pieces;
    {
        std::lock_guard<std::mutex> lock(p.m);
        const size_t want = static_cast<size_t>(g_threads - 1);
        try {
            while (p.workers.size() < want)
                p.workers.emplace_back(worker, std::ref(p), p.workers.size());
        } catch (const std::exception&) {
            // No more threads to be had: the ones there are (or this one) do the work.
        }
        p.active = std::min(want, p.workers.size());
        p.job = &j;
        ++p.generation;
    }
    p.wake.notify_all();
    t_inside = true;
    const int64_t ended = take_ranges(p, j);
    t_inside = false;
    std::exception_ptr error;
    {
        std::unique_lock<std::mutex> lock(p.m);
        j.finished += ended;
        // The job lives on this stack: wait until no worker holds it any more.
        p.done.wait(lock, [&] { return j.finished == j.pieces && j.users == 0; });
        p.job = nullptr;
        error = j.error;
    }
    if (error) std::rethrow_exception(error);
}

}  // namespace parallel_detail
