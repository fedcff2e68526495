// The thread pool and every threaded command: the same bytes with 1, 2, 3 and 7
// threads on random buffers, each loop cut as finely as the thread count allows.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "buffer/image_buffer.h"
#include "kqtowf/kqtowf.h"
#include "parallel/pages.h"
#include "parallel/parallel.h"
#include "tests/command_helpers.h"
#include "tests/kqc_runner.h"

namespace {

constexpr int kThreadCounts[] = {1, 2, 3, 7};

// Runs body with n threads and fine splitting, then back to one thread.
template <class F>
void with_threads(int n, F body) {
    set_thread_count(n);
    set_fine_split(true);
    body();
    set_fine_split(false);
    set_thread_count(1);
}

TEST(Parallel, RangesCoverEveryItemOnceAndNest) {
    for (int threads : kThreadCounts) {
        for (int64_t n : {0, 1, 5, 1000}) {
            std::vector<std::atomic<int>> hits(static_cast<size_t>(n));
            std::atomic<int> inner{0};
            with_threads(threads, [&] {
                parallel_for(n, 1, [&](int64_t b, int64_t e) {
                    EXPECT_LE(b, e);
                    for (int64_t i = b; i < e; ++i) ++hits[size_t(i)];
                    // A loop inside a range runs whole on its caller's thread.
                    parallel_for(3, 1, [&](int64_t b2, int64_t e2) { inner += int(e2 - b2); });
                });
            });
            for (auto& h : hits) EXPECT_EQ(h.load(), 1) << threads << " threads, n " << n;
            if (n > 0) {
                EXPECT_GE(inner.load(), 3);
            }
        }
    }
    // A body's exception reaches the caller after every range has ended.
    with_threads(3, [] {
        EXPECT_THROW(parallel_for(100, 1,
                                  [](int64_t b, int64_t) {
                                      if (b > 0) throw std::runtime_error("range");
                                  }),
                     std::runtime_error);
    });
    EXPECT_EQ(parse_thread_count("4"), 4);
    for (const char* bad : {"0", "", "-1", "2x", "1025"}) EXPECT_EQ(parse_thread_count(bad), 0);
    EXPECT_GE(available_cpus(), 1);
}

// One case: commands run on fresh random buffers a (4 planes, 301 x 257 at 3,-7),
// b (4 planes, 280 x 270 at -20,10), o (like a), s (120 x 80), z (700 x 530),
// q (1 plane, 200 x 150 at 10,10), d (3 planes, D1), n (3 planes, NTSC),
// hd (3 planes, HD) and hn (3 planes, 640 x 360); every buffer is compared.
struct Case {
    const char* lines;  // script lines, ';' between them
};

const Case kCases[] = {
    {"over a b o"}, {"plus a b o"}, {"in a b o"}, {"out a b o"}, {"atop a b o"}, {"xor a b o"},
    {"over a o o"}, {"plus a o o"}, {"xor o b o"},
    {"gauss -z 7.5 3 a o"}, {"gauss -z 0 4 a o"}, {"gauss -z 5 0 -rgb a o"},
    {"gauss -z 4 4 a a"}, {"gauss -z 30 2 a o"},
    {"blur -z 5 9 a o"}, {"blur -z 0 0 a o"}, {"blur -z 40 60 -x 2 a o"}, {"blur -z 3 1 -r a o"},
    {"sblur -z 3 4 a o"}, {"sblur -z 9 2 -g a o"},
    {"shrink -l 2 2 a s"}, {"shrink -l 3 2 a s"}, {"shrink -l 1 4 -rgb a s"},
    {"shrink -l 2 2 a a"}, {"glow -l 2 2 -z 3 3 a o"},
    {"blzoom a z"}, {"blzoom a s"}, {"bzoom a z"}, {"bzoom -s 10 10 50 40 a z"},
    {"bzoom -W 0 0 300 200 b z"},
    {"filter3 -f hi a"}, {"filter3 -f lowv -rgb a"}, {"filter3 -f lap q"},
    {"nega a o"}, {"nega a q"}, {"mono a o"}, {"mono a b"}, {"dissolve a 0.37"},
    {"darkness a 0.2 0.5 0.9"}, {"opaque a 0.6"}, {"adjustcol -r 10 200 -a 40 90 a o"},
    {"paint -g -c 0.3 0.6 0.9 a o"}, {"paint -b -m a b"}, {"pile a o"}, {"pile -r a o"},
    {"pile a a"},
    {"d1tontsc d n"}, {"ntsctod1 n d"}, {"hdtontsc hd hn"},
};

const char* const kBuffers[] = {"a", "b", "o", "s", "z", "q", "d", "n", "hd", "hn"};

// A buffer filled with random bytes, the same for every run (copied from one
// block of noise made once, at an offset of its own).
void make_noise_buffer(const char* name, int x, int y, int w, int h, int comps, size_t at) {
    static const std::vector<uint8_t> noise = [] {
        std::mt19937 rng(21);
        std::vector<uint8_t> v(size_t(1) << 22);
        for (uint8_t& b : v) b = uint8_t(rng());
        return v;
    }();
    ImageBuffer* b = make_buffer(name, x, y, w, h, comps);
    for (int p = 0; p < comps; ++p)
        for (int64_t i = 0; i < b->plane_size(); ++i)
            b->plane[p][i] = noise[(at + size_t(p) * 4099 + size_t(i)) % noise.size()];
}

// The buffers after the case's lines, plane by plane, in kBuffers order.
std::vector<std::vector<uint8_t>> run_case(const Case& c) {
    clear_registry();
    make_noise_buffer("a", 3, -7, 301, 257, 4, 0);
    make_noise_buffer("b", -20, 10, 280, 270, 4, 1111);
    make_noise_buffer("o", 3, -7, 301, 257, 4, 2222);
    make_noise_buffer("s", 0, 0, 120, 80, 4, 3333);
    make_noise_buffer("z", 0, 0, 700, 530, 4, 4444);
    make_noise_buffer("q", 10, 10, 200, 150, 1, 5555);
    make_noise_buffer("d", 0, 0, 720, 486, 3, 6666);
    make_noise_buffer("n", 0, 0, 640, 480, 3, 7777);
    make_noise_buffer("hd", 0, 0, 1920, 1035, 3, 8888);
    make_noise_buffer("hn", 0, 0, 640, 360, 3, 9999);
    std::string lines = c.lines;
    for (size_t at = 0; at <= lines.size();) {
        size_t end = lines.find(';', at);
        if (end == std::string::npos) end = lines.size();
        EXPECT_EQ(run_line(lines.substr(at, end - at)), 1) << c.lines;
        at = end + 1;
    }
    std::vector<std::vector<uint8_t>> planes;
    for (const char* name : kBuffers) {
        const ImageBuffer* b = find_buffer(name);
        for (int p = 0; b && p < b->components; ++p) planes.push_back(plane_copy(*b, p));
    }
    clear_registry();
    return planes;
}

// Blocks of every size class, with and without threads: zeroed ones read zero,
// every byte can be written and read back, large ones start on a 2 MiB boundary,
// and free_pages takes them and plain malloc blocks alike.
TEST(Parallel, PageBlocksOfEverySize) {
    const size_t mib = size_t(1) << 20;
    for (int threads : {1, 3}) {
        for (size_t bytes : {size_t(0), size_t(1), 4 * mib - 1, 4 * mib, 4 * mib + 4097, 17 * mib}) {
            for (bool zeroed : {false, true}) {
                SCOPED_TRACE(std::to_string(bytes) + " bytes, threads " + std::to_string(threads));
                unsigned char* p = nullptr;
                with_threads(threads, [&] { p = static_cast<unsigned char*>(alloc_pages(bytes, zeroed)); });
                ASSERT_NE(p, nullptr);
                if (bytes >= 4 * mib) {
                    EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % (2 * mib), 0u);
                }
                size_t nonzero = 0;
                for (size_t i = 0; zeroed && i < bytes; ++i) nonzero += p[i] != 0;
                EXPECT_EQ(nonzero, 0u);
                for (size_t i = 0; i < bytes; ++i) p[i] = static_cast<unsigned char>(i * 7);
                size_t wrong = 0;
                for (size_t i = 0; i < bytes; ++i) wrong += p[i] != static_cast<unsigned char>(i * 7);
                EXPECT_EQ(wrong, 0u);
                free_pages(p);
            }
        }
    }
    free_pages(std::malloc(10));
    free_pages(nullptr);
}

TEST(Parallel, EveryThreadedCommandGivesTheSameBytesAtEveryThreadCount) {
    for (const Case& c : kCases) {
        const auto one = run_case(c);
        for (int threads : kThreadCounts) {
            if (threads == 1) continue;
            std::vector<std::vector<uint8_t>> many;
            with_threads(threads, [&] { many = run_case(c); });
            ASSERT_EQ(many.size(), one.size()) << c.lines;
            for (size_t p = 0; p < one.size(); ++p)
                EXPECT_TRUE(many[p] == one[p]) << c.lines << ": " << threads << " threads, plane "
                                               << p;
        }
    }
}

// Picture files: written and read back with row blocks packed and unpacked on
// threads, and kqtowf's source rows, levels and tiles, against one thread.
TEST(Parallel, PicturesAndMappingFilesAreTheSameAtEveryThreadCount) {
    ScratchDir dir;
    const std::string pic = (dir / "p.tkq").string();
    const std::vector<std::string> modes[] = {
        {"-m", "0"}, {"-M", "0"}, {"-m", "3"}, {"-A", "8", "8"}, {"-A", "3", "5", "-t", "uv"}};
    std::vector<std::string> first;
    for (int threads : kThreadCounts) {
        std::vector<std::string> files;
        with_threads(threads, [&] {
            clear_registry();
            std::mt19937 rng(7);
            make_random_buffer("a", 3, -7, 301, 257, 4, rng);
            ASSERT_EQ(run_line("write a " + pic), 1);
            ASSERT_EQ(run_line("read " + pic + " r"), 1);
            files.push_back(read_file(pic));
            const ImageBuffer* r = find_buffer("r");
            for (int p = 0; p < 4; ++p) {
                const auto plane = plane_copy(*r, p);
                files.emplace_back(plane.begin(), plane.end());
            }
            for (size_t m = 0; m < std::size(modes); ++m) {
                const std::string out = (dir / ("o" + std::to_string(m) + ".wf")).string();
                std::vector<std::string> args = {"kqtowf", "-j", std::to_string(threads), "-f",
                                                 "-x"};
                args.insert(args.end(), modes[m].begin(), modes[m].end());
                args.insert(args.end(), {pic, out});
                std::vector<char*> argv;
                for (std::string& a : args) argv.push_back(a.data());
                ASSERT_EQ(kqtowf_main(int(argv.size()), argv.data()), 0);
                files.push_back(read_file(out));
            }
            clear_registry();
        });
        if (threads == 1) first = files;
        ASSERT_EQ(files.size(), first.size());
        for (size_t f = 0; f < files.size(); ++f)
            EXPECT_TRUE(files[f] == first[f]) << threads << " threads, file " << f;
    }
}

}  // namespace
