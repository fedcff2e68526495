// Packed four-byte pixels into four planes, the copy picture reading does for every
// RGBA scanline: o[p][i] = in[4 i + at[p]] for i < n. Vector loops where the
// processor has them (chosen once), the plain loop elsewhere; the bytes are the same.
#pragma once

#include <cstdint>

void kq_split4(const unsigned char* in, int64_t n, const int at[4], uint8_t* const o[4]);

// The plain loop, for tests and for processors without the vector instructions.
void kq_split4_plain(const unsigned char* in, int64_t n, const int at[4], uint8_t* const o[4]);
