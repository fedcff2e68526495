// Work sharing for the image operations: a fixed pool of threads that runs one
// loop over [0, n) cut into disjoint ranges. Each range writes only its own part
// of the output, so the bytes never depend on how the ranges are scheduled.
#pragma once

#include <cstdint>

// The threads an operation may use, 1 or more (1: everything runs on the calling
// thread and no thread is started). The programs set it from -j; it starts at 1.
void set_thread_count(int n);
int thread_count();

// The N of "-j N": a whole decimal number 1 to 1024; 0 for anything else.
int parse_thread_count(const char* word);

// The CPUs this process may run on (its affinity mask), at least 1.
int available_cpus();

namespace parallel_detail {
using RangeFn = void (*)(const void* body, int64_t begin, int64_t end);
void run_ranges(int64_t n, int64_t pieces, RangeFn fn, const void* body);
}  // namespace parallel_detail

// Calls body(begin, end) on disjoint ranges that together cover [0, n), on up to
// thread_count() threads, and returns when all are done. A range holds at least
// `grain` items (the last one aside), so tiny loops stay on one thread. With one
// thread, or n <= grain, it is the single call body(0, n). A call made from inside
// a body runs on its caller's thread.
template <class Body>
void parallel_for(int64_t n, int64_t grain, const Body& body) {
    if (n <= 0) return;
    const int64_t threads = thread_count();
    if (grain < 1) grain = 1;
    int64_t pieces = n / grain;
    if (pieces > 4 * threads) pieces = 4 * threads;
    if (threads <= 1 || pieces <= 1) {
        body(int64_t{0}, n);
        return;
    }
    parallel_detail::run_ranges(
        n, pieces,
        [](const void* b, int64_t begin, int64_t end) {
            (*static_cast<const Body*>(b))(begin, end);
        },
        &body);
}

// Rows per range that give a range about `bytes` bytes of work when a row moves
// `row_bytes`; at least 1.
inline int64_t rows_for_bytes(int64_t row_bytes, int64_t bytes = 64 * 1024) {
    return row_bytes >= bytes ? 1 : bytes / (row_bytes > 0 ? row_bytes : 1);
}
