// The vector extensions the processor offers beyond the baseline instruction set,
// asked once per process. Loops compiled for an extension are picked when the
// processor has it and their family's WideVectors switch allows it; tests turn a
// switch off to run the baseline loops on a processor that has the wider ones.
#pragma once

struct CpuFeatures {
    bool ssse3 = false;
    bool avx2 = false;
    bool avx512_vnni = false;  // AVX-512 byte/word operations and dot products (VNNI)
};

inline const CpuFeatures& cpu_features() {
    static const CpuFeatures features = [] {
        CpuFeatures f;
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
        __builtin_cpu_init();
        f.ssse3 = __builtin_cpu_supports("ssse3") != 0;
        f.avx2 = __builtin_cpu_supports("avx2") != 0;
        f.avx512_vnni =
            __builtin_cpu_supports("avx512bw") != 0 && __builtin_cpu_supports("avx512vnni") != 0;
#endif
        return f;
    }();
    return features;
}

inline bool cpu_has_avx2() { return cpu_features().avx2; }

// One family's switch for its wide loops, on by default.
struct WideVectors {
    bool allowed = true;
    bool avx2() const { return allowed && cpu_features().avx2; }
    bool ssse3() const { return allowed && cpu_features().ssse3; }
};
