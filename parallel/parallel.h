// Work sharing for the image operations: a fixed pool of threads that runs one
// loop over [0, n) cut into disjoint ranges. Each range writes only its own part
// of the output, so the bytes never depend on how the ranges are scheduled.
#pragma once

#include <cstddef>
#include <cstdint>

// The grain of a loop that must run as one range, in order (for example a pass
// into its own source).
constexpr int64_t kOneRange = INT64_MAX;

// The threads an operation may use, 1 or more (1: everything runs on the calling
// thread and no thread is started). The programs set it from -j; it starts at 1.
void set_thread_count(int n);
int thread_count();

// Tests: cut every loop as finely as the thread count allows (grain 1), so that
// small pictures are split as much as large ones would be.
void set_fine_split(bool on);
bool fine_split();

// The N of "-j N": a whole decimal number 1 to 1024; 0 for anything else.
int parse_thread_count(const char* word);

// The CPUs this process may run on (its affinity mask), at least 1.
int available_cpus();

namespace parallel_detail {
using RangeFn = void (*)(const void* body, int64_t piece, int64_t begin, int64_t end);
void run_ranges(int64_t n, int64_t pieces, RangeFn fn, const void* body);
}  // namespace parallel_detail

// How many ranges parallel_for cuts a loop of n items into: 1 with one thread or
// when n <= grain, else up to four per thread with at least `grain` items each.
inline int64_t parallel_pieces(int64_t n, int64_t grain) {
    const int64_t threads = thread_count();
    if (grain == kOneRange) return 1;
    if (grain < 1 || fine_split()) grain = 1;
    int64_t pieces = n / grain;
    if (pieces > 4 * threads) pieces = 4 * threads;
    return threads <= 1 || pieces < 1 ? 1 : pieces;
}

// Calls body(k, begin, end) for k = 0 .. pieces - 1, where range k is
// [n·k / pieces, n·(k + 1) / pieces), on up to thread_count() threads, and returns
// when all are done. With one piece it is the single call body(0, 0, n) on this
// thread. A call made from inside a body runs on its caller's thread. An exception
// thrown by a body is thrown again here once every range has ended.
template <class Body>
void parallel_pieces_for(int64_t n, int64_t pieces, const Body& body) {
    if (n <= 0) return;
    if (pieces <= 1 || thread_count() <= 1) {
        body(int64_t{0}, int64_t{0}, n);
        return;
    }
    parallel_detail::run_ranges(
        n, pieces,
        [](const void* b, int64_t k, int64_t begin, int64_t end) {
            (*static_cast<const Body*>(b))(k, begin, end);
        },
        &body);
}

// Calls body(begin, end) on disjoint ranges that together cover [0, n), cut as
// parallel_pieces(n, grain) says, and returns when all are done. Each range
// writes only its own part of the output, so the bytes never depend on the
// thread count or on how the ranges are scheduled.
template <class Body>
void parallel_for(int64_t n, int64_t grain, const Body& body) {
    if (n <= 0) return;
    parallel_pieces_for(n, parallel_pieces(n, grain),
                        [&](int64_t, int64_t begin, int64_t end) { body(begin, end); });
}

// The bytes of work below which a loop is not worth a second thread: waking a
// sleeping thread and waiting for it costs about as much as moving this much
// memory, so a D1 frame's planes stay on one thread.
constexpr int64_t kMinLoopBytes = int64_t(1) << 20;

// Rows per range that give a range about `bytes` bytes of work when a row moves
// `row_bytes`; at least 1.
inline int64_t rows_for_bytes(int64_t row_bytes, int64_t bytes = kMinLoopBytes) {
    return row_bytes >= bytes ? 1 : bytes / (row_bytes > 0 ? row_bytes : 1);
}
