// Large blocks from their own mappings, small ones from malloc. free_pages tells
// them apart by a table of the mapped blocks (there are few: one per plane block).
#include "parallel/pages.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <unordered_map>

#include "parallel/parallel.h"

#if defined(__linux__)
#include <sys/mman.h>
#include <unistd.h>
#endif

namespace {

constexpr size_t kHuge = size_t(2) << 20;
constexpr size_t kRun = 2 * kHuge;

#if defined(__linux__)
std::mutex g_mapped_lock;
std::unordered_map<void*, size_t>& mapped() {
    static auto* table = new std::unordered_map<void*, size_t>;  // outlives every block
    return *table;
}

// A fresh zero mapping of `length` bytes (a whole number of pages) on a 2 MiB
// boundary where the address space allows the slack, else where the kernel puts it.
void* map_aligned(size_t length) {
    const int prot = PROT_READ | PROT_WRITE, flags = MAP_PRIVATE | MAP_ANONYMOUS;
    void* wide = length <= SIZE_MAX - kHuge ? mmap(nullptr, length + kHuge, prot, flags, -1, 0)
                                            : MAP_FAILED;
    if (wide == MAP_FAILED) {
        void* exact = mmap(nullptr, length, prot, flags, -1, 0);
        return exact == MAP_FAILED ? nullptr : exact;
    }
    const auto base = reinterpret_cast<uintptr_t>(wide);
    const uintptr_t start = (base + kHuge - 1) / kHuge * kHuge;
    if (start > base) munmap(wide, start - base);
    const uintptr_t tail = base + length + kHuge - (start + length);
    if (tail > 0) munmap(reinterpret_cast<void*>(start + length), tail);
    return reinterpret_cast<void*>(start);
}
#endif

}  // namespace

void* alloc_pages(size_t bytes, bool zeroed) {
    const size_t n = bytes > 0 ? bytes : 1;
#if defined(__linux__)
    if (n >= 2 * kHuge) {
        const size_t page = size_t(sysconf(_SC_PAGESIZE));
        if (n > SIZE_MAX - page) return nullptr;
        const size_t length = (n + page - 1) / page * page;
        void* block = map_aligned(length);
        if (!block) return nullptr;
        try {
            const std::lock_guard<std::mutex> hold(g_mapped_lock);
            mapped().emplace(block, length);
        } catch (...) {
            munmap(block, length);
            return nullptr;
        }
        // Advice only: a kernel without it leaves ordinary pages, faulted in on first use.
        constexpr int kPopulateWrite = 23;  // MADV_POPULATE_WRITE, Linux 5.14
        madvise(block, length, MADV_HUGEPAGE);
        const auto first = reinterpret_cast<uintptr_t>(block);
        const int64_t runs = int64_t((length + kRun - 1) / kRun);
        // Threads share the runs of blocks of 16 MiB or more (smaller ones do not
        // start the workers, whose stacks would take address space of their own).
        parallel_for(runs, length >= 4 * kRun ? 1 : kOneRange, [&](int64_t r0, int64_t r1) {
            const uintptr_t a = first + uintptr_t(r0) * kRun;
            const uintptr_t b = std::min<uintptr_t>(first + length, first + uintptr_t(r1) * kRun);
            madvise(reinterpret_cast<void*>(a), b - a, kPopulateWrite);
        });
        return block;  // a fresh mapping reads as zeros
    }
#endif
    return zeroed ? std::calloc(n, 1) : std::malloc(n);
}

void free_pages(void* block) {
    if (!block) return;
#if defined(__linux__)
    size_t length = 0;
    {
        const std::lock_guard<std::mutex> hold(g_mapped_lock);
        auto& table = mapped();
        const auto it = table.find(block);
        if (it != table.end()) {
            length = it->second;
            table.erase(it);
        }
    }
    if (length > 0) {
        munmap(block, length);
        return;
    }
#endif
    std::free(block);
}
