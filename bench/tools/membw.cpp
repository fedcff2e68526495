// Single-thread memory bandwidth of a plain memcpy of 64 MiB, the yardstick of the
// memory-bound floors in bench/run.sh. Prints the best of several copies as
// "memcpy_bytes_per_sec <value>", counting the bytes read plus the bytes written.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

int main(int argc, char** argv) {
    const size_t size = size_t(64) << 20;
    const int rounds = argc > 1 ? std::atoi(argv[1]) : 10;
    std::vector<unsigned char> src(size), dst(size);
    for (size_t i = 0; i < size; ++i) src[i] = static_cast<unsigned char>(i * 2654435761u >> 24);
    std::memset(dst.data(), 1, size);  // fault every page in before timing
    double best = 1e30;
    unsigned sink = 0;
    for (int r = 0; r < rounds; ++r) {
        const auto t0 = std::chrono::steady_clock::now();
        std::memcpy(dst.data(), src.data(), size);
        const auto t1 = std::chrono::steady_clock::now();
        sink += dst[size_t(r) * 4099 % size];
        best = std::min(best, std::chrono::duration<double>(t1 - t0).count());
    }
    std::printf("memcpy_bytes_per_sec %.0f\n", 2.0 * double(size) / best);
    std::printf("memcpy_64MiB_msec %.3f\n", best * 1e3);
    return sink == 0xffffffffu;  // keeps the copies observable
}
