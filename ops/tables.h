// The constant 256 × 256 byte tables of integer compositing: each is one flat
// array indexed x·256 + y, so a pair of bytes can never index outside it.
#pragma once

#include <array>
#include <cstdint>

using ByteTable = std::array<uint8_t, 65536>;

// MulTable[x·256 + y] = floor(x·y / 255): the product of two fractions of 255,
// truncated toward zero. MulTable[x, 255] = x, MulTable[x, 0] = 0; symmetric.
extern const ByteTable MulTable;
// AddTable[x·256 + y] = min(x + y, 255): the saturating sum.
extern const ByteTable AddTable;

inline uint8_t mul_table(uint8_t x, uint8_t y) { return MulTable[x * 256u + y]; }
inline uint8_t add_table(uint8_t x, uint8_t y) { return AddTable[x * 256u + y]; }
// DivTable[x·256 + y] = min(255, truncate(x ÷ (y ÷ 255.0))) in double precision, in
// that order (0 when y = 0): a premultiplied sample x over alpha y back to straight.
// The order shows in the last unit: DivTable[33, 33] = 254, DivTable[7, 35] = 50.
extern const ByteTable DivTable;

inline uint8_t div_table(uint8_t x, uint8_t y) { return DivTable[x * 256u + y]; }
