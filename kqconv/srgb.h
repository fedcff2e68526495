// The sRGB transfer of the floating-point formats: 8-bit display-referred samples to
// linear light, and linear light back to the nearest 8-bit sample in display terms.
#pragma once

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstdint>

namespace srgb {

inline double to_linear(double s) {
    return s <= 0.04045 ? s / 12.92 : std::pow((s + 0.055) / 1.055, 2.4);
}

struct Transfer {
    // Positive floats below 1.0 in buckets of the same bits above the low kShift: each
    // bucket holds at most one rounding edge (the edges lie more than 1/120 apart in
    // relative terms, a bucket spans at most 1/256).
    static constexpr int kShift = 15;
    static constexpr uint32_t kOne = 0x3f800000;  // the bits of 1.0f

    std::array<float, 256> linear;     // sample v as linear light, v / 255 through the curve
    std::array<float, 255> threshold;  // linear light of (v + 0.5) / 255: the rounding edges
    std::array<uint8_t, (kOne >> kShift)> start;  // edges at or below each bucket's lowest value

    Transfer() {
        for (int v = 0; v < 256; ++v) linear[size_t(v)] = float(to_linear(v / 255.0));
        linear[0] = 0.0f, linear[255] = 1.0f;  // exactly, whatever pow does
        for (int v = 0; v < 255; ++v) threshold[size_t(v)] = float(to_linear((v + 0.5) / 255.0));
        for (uint32_t b = 0; b < start.size(); ++b) start[b] = searched(std::bit_cast<float>(b << kShift));
    }

    // The nearest sample in display terms: the count of rounding edges at or below x.
    uint8_t searched(float x) const {
        if (!(x > 0.0f)) return 0;
        return uint8_t(std::upper_bound(threshold.begin(), threshold.end(), x) - threshold.begin());
    }
    // The same count, from the bucket's and then the one edge the bucket may hold.
    uint8_t sample(float x) const {
        if (!(x > 0.0f)) return 0;
        if (!(x < 1.0f)) return 255;  // above the last edge
        unsigned v = start[std::bit_cast<uint32_t>(x) >> kShift];
        while (v < 255 && threshold[v] <= x) ++v;
        return uint8_t(v);
    }
};

inline const Transfer& transfer() {
    static const Transfer t;
    return t;
}

}  // namespace srgb
