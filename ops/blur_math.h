// Per-pixel arithmetic of the box blurs, kept apart so that it can be checked
// exhaustively: the exact division of a box sum by its pixel count, and the
// silhouette blend.
#pragma once

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstdlib>
#include <type_traits>

// floor(S / N) for 0 <= S <= 255 N is computed as trunc(S * r), where r is the
// reciprocal 1/N rounded to the nearest value of the floating type and then moved
// one step up. With p the precision of the type (24 or 53 bits) and S exactly
// representable:
//  - r > 1/N, so S * r >= S / N >= q = floor(S / N); q is representable and
//    rounding is monotonic, so the rounded product is >= q;
//  - r < (1 + 3 * 2^-p) / N, so S * r < q + 1 - 1/N + 256 * 3 * 2^-p, which is at
//    most q + 1 - 2^(7-p) when N <= 2^p / 896: below the midpoint between q + 1
//    and the value just under it (spacing <= 2^(8-p) below 256), so the rounded
//    product stays below q + 1.
// Hence float is exact for N <= 16384 (bound 18724; 255 N < 2^24) and double for
// N < 2^40 (bound 1e13; 255 N < 2^53). Larger boxes divide directly.
// Since trunc(S * r) is non-decreasing in S, checking S = qN and S = qN + N - 1 for
// every q proves a divisor for all S; the unit tests do that for every float N.

constexpr int64_t kFloatMaxCount = 16384;
constexpr int64_t kDoubleMaxCount = int64_t(1) << 40;

// The divisor of N in type Real: the reciprocal described above, or N itself
// (uint64_t, direct division).
template <class Real>
Real box_divisor(int64_t n) {
    if constexpr (std::is_same_v<Real, float>)
        return std::bit_cast<float>(std::bit_cast<uint32_t>(1.0f / float(n)) + 1);
    else if constexpr (std::is_same_v<Real, double>)
        return std::bit_cast<double>(std::bit_cast<uint64_t>(1.0 / double(n)) + 1);
    else
        return Real(n);
}

// floor(sum / N) with d = box_divisor(N); sum <= 255 N.
template <class Acc, class Real>
inline uint8_t box_mean(Acc sum, Real d) {
    // Box sums below 2^31 convert through int32, which vectorises.
    using Wide = std::conditional_t<sizeof(Acc) == 8, int64_t, int32_t>;
    if constexpr (std::is_integral_v<Real>)
        return uint8_t(sum / d);
    else
        return uint8_t(Wide(Real(Wide(sum)) * d));
}

// floor(S / N) for 0 <= S <= 255 N < 2^16 by a 16-bit multiply-high and a shift:
// (S * m) >> (16 + shift). The pair is the smallest shift whose m = ceil(2^k / N)
// fits 16 bits and gives the right quotient at both ends of every step of
// floor(S / N) (the product never decreases as S grows, so that proves every S).
// No pair (shift < 0) leaves the reciprocal's way.
struct ShortDivisor {
    uint16_t m = 0;
    int shift = -1;
};

inline uint8_t short_mean(uint16_t sum, ShortDivisor d) {
    return uint8_t(uint16_t((uint32_t(sum) * d.m) >> 16) >> d.shift);
}

inline ShortDivisor short_divisor(int64_t n) {
    if (n < 1 || 255 * n > 0xFFFF) return {};
    for (int k = 16; k < 32; ++k) {
        const uint64_t m = ((uint64_t(1) << k) + uint64_t(n) - 1) / uint64_t(n);
        if (m > 0xFFFF) break;
        const ShortDivisor d{uint16_t(m), k - 16};
        bool exact = true;
        for (int64_t q = 0; q <= 255 && exact; ++q)
            exact = short_mean(uint16_t(q * n), d) == q &&
                    short_mean(uint16_t(std::min<int64_t>(q * n + n - 1, 255 * n)), d) == q;
        if (exact) return d;
    }
    return {};
}

// The colour of a silhouette-blurred pixel from the blurred alpha a, the box mean
// b and the unblurred value v: with d = |a - 128|, v itself when d >= 127, else
// (1 - d/128) b + (d/128) v in double precision, truncated. Every term of that
// formula is exact in double (multiples of 1/128 below 256), so it equals
// ((128 - d) b + d v) / 128 in integers, floored.
inline uint8_t silhouette_blend(uint8_t a, uint8_t b, uint8_t v) {
    int d = std::abs(int(a) - 128);
    int blend = ((128 - d) * b + d * v) >> 7;
    return uint8_t(d >= 127 ? v : blend);
}
