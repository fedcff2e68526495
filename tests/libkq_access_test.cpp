// libkq pixel access table: every member of every pixel layout, on scanlines and
// on whole-picture blocks.
#include <cstring>
#include <random>
#include <vector>

#include "gtest/gtest.h"
#include "libkq/kq.h"
#include "libkq/kq_pixels.h"

namespace {

struct Picture {
    KQ_DATA* kq = kq_alloc();
    std::vector<unsigned char> data;
    Picture(int w, int h, int bitlen, int type, char field = 'B', int org_y = 0) {
        EXPECT_TRUE(kq_set_origin(kq, 0, org_y));
        EXPECT_TRUE(kq_set_format(kq, w, h, bitlen, field, type));
        data.assign(size_t(kq->data_bytes) + 16, 0);  // room to notice stray writes
    }
    ~Picture() { kq_free(kq); }
    const KQ_ACCESS& at() const { return kq->access; }
    unsigned char* line() { return data.data(); }
};

constexpr int kUnset = -12345;

}  // namespace

TEST(LibkqAccess, OneBitPixels) {
    Picture p(16, 1, 1, 1);
    unsigned char* l = p.line();
    ASSERT_TRUE(p.at().put_pixel(p.kq, l, 9, 5, 0, 0, 0));
    EXPECT_EQ(l[0], 0);
    EXPECT_EQ(l[1], 0x02);  // only bit 1 of byte 1
    l[0] = 0xFF;
    ASSERT_TRUE(p.at().put_pixel(p.kq, l, 3, -3, 0, 0, 0));
    EXPECT_EQ(l[0], 0xF7);
    ASSERT_TRUE(p.at().put_pixel(p.kq, l, 3, 0, 0, 0, 0));
    EXPECT_EQ(l[0], 0xF7);
    int c = kUnset;
    ASSERT_TRUE(p.at().get_pixel(p.kq, l, 9, &c, nullptr, nullptr, nullptr));
    EXPECT_EQ(c, 1);
    ASSERT_TRUE(p.at().get_pixel(p.kq, l, 3, &c, nullptr, nullptr, nullptr));
    EXPECT_EQ(c, 0);
}

TEST(LibkqAccess, ByteChannelsClamp) {
    Picture p8(4, 1, 8, 2);
    ASSERT_TRUE(p8.at().put_pixel(p8.kq, p8.line(), 1, 300, 0, 0, 0));
    ASSERT_TRUE(p8.at().put_pixel(p8.kq, p8.line(), 2, -5, 0, 0, 0));
    ASSERT_TRUE(p8.at().put_pixel(p8.kq, p8.line(), 3, 77, 0, 0, 0));
    EXPECT_EQ(std::vector<unsigned char>(p8.data.begin(), p8.data.begin() + 4),
              (std::vector<unsigned char>{0, 255, 0, 77}));

    Picture p24(3, 1, 24, 4);
    ASSERT_TRUE(p24.at().put_pixel(p24.kq, p24.line(), 1, 1, 256, -1, 99));
    EXPECT_EQ(std::vector<unsigned char>(p24.data.begin(), p24.data.begin() + 9),
              (std::vector<unsigned char>{0, 0, 0, 1, 255, 0, 0, 0, 0}));
    int c[4] = {kUnset, kUnset, kUnset, kUnset};
    ASSERT_TRUE(kq_get_pixel(p24.kq, p24.line(), 1, &c[0], &c[1], &c[2], &c[3]));
    EXPECT_EQ(c[0], 1);
    EXPECT_EQ(c[1], 255);
    EXPECT_EQ(c[2], 0);
    EXPECT_EQ(c[3], kUnset);  // three channels only

    Picture p32(2, 1, 32, 6);
    ASSERT_TRUE(p32.at().put_pixel(p32.kq, p32.line(), 1, 10, 20, 30, 400));
    EXPECT_EQ(std::vector<unsigned char>(p32.data.begin(), p32.data.begin() + 8),
              (std::vector<unsigned char>{0, 0, 0, 0, 10, 20, 30, 255}));
    ASSERT_TRUE(kq_get_pixel(p32.kq, p32.line(), 1, &c[0], &c[1], &c[2], &c[3]));
    EXPECT_EQ(c[3], 255);
    int32_t v = 0;
    EXPECT_FALSE(p32.at().get_value(p32.kq, p32.line(), 0, &v));
    EXPECT_EQ(kq_errno, KQ_ERR_ACCESS);
    EXPECT_FALSE(p32.at().put_aux(p32.kq, p32.line(), 0, 1));
    EXPECT_EQ(kq_errno, KQ_ERR_ACCESS);
}

TEST(LibkqAccess, TwelveBitValuesKeepNeighbours) {
    Picture p(3, 1, 12, 1);
    unsigned char* l = p.line();
    ASSERT_TRUE(p.at().put_pixel(p.kq, l, 0, 5000, 0, 0, 0));
    EXPECT_EQ(l[0], 0xFF);
    EXPECT_EQ(l[1], 0xF0);
    ASSERT_TRUE(p.at().put_pixel(p.kq, l, 1, 0x123, 0, 0, 0));
    EXPECT_EQ(l[1], 0xF1);  // pixel 0's low bits stay in the high nibble
    EXPECT_EQ(l[2], 0x23);
    ASSERT_TRUE(p.at().put_pixel(p.kq, l, 0, 0xABC, 0, 0, 0));
    EXPECT_EQ(l[0], 0xAB);
    EXPECT_EQ(l[1], 0xC1);
    ASSERT_TRUE(p.at().put_pixel(p.kq, l, 2, -7, 0, 0, 0));
    int c = kUnset;
    for (int x : {0, 1, 2}) {
        ASSERT_TRUE(p.at().get_pixel(p.kq, l, x, &c, nullptr, nullptr, nullptr));
        EXPECT_EQ(c, x == 0 ? 0xABC : x == 1 ? 0x123 : 0);
    }
}

TEST(LibkqAccess, TwelveBitChannelsOfWidePixels) {
    // 36 bits: pixel 1 starts in the middle of byte 4.
    Picture p36(2, 1, 36, 4);
    unsigned char* l = p36.line();
    std::memset(l, 0xFF, 9);
    ASSERT_TRUE(p36.at().put_pixel(p36.kq, l, 1, 0x123, 0x456, 0x789, 0));
    EXPECT_EQ(std::vector<unsigned char>(l + 4, l + 9),
              (std::vector<unsigned char>{0xF1, 0x23, 0x45, 0x67, 0x89}));
    EXPECT_EQ(l[3], 0xFF);
    int c[4] = {kUnset, kUnset, kUnset, kUnset};
    ASSERT_TRUE(kq_get_pixel(p36.kq, l, 1, &c[0], &c[1], &c[2], &c[3]));
    EXPECT_EQ(c[0], 0x123);
    EXPECT_EQ(c[1], 0x456);
    EXPECT_EQ(c[2], 0x789);
    EXPECT_EQ(c[3], kUnset);
    ASSERT_TRUE(kq_get_pixel(p36.kq, l, 0, &c[0], &c[1], &c[2], &c[3]));
    EXPECT_EQ(c[0], 0xFFF);

    Picture p48(2, 1, 48, 5);
    ASSERT_TRUE(p48.at().put_pixel(p48.kq, p48.line(), 1, 0xABC, 0xDEF, 0x012, 9999));
    EXPECT_EQ(std::vector<unsigned char>(p48.data.begin() + 6, p48.data.begin() + 12),
              (std::vector<unsigned char>{0xAB, 0xCD, 0xEF, 0x01, 0x2F, 0xFF}));
    ASSERT_TRUE(kq_get_pixel(p48.kq, p48.line(), 1, &c[0], &c[1], &c[2], &c[3]));
    EXPECT_EQ(c[3], 0xFFF);

    Picture p80(2, 1, 80, 14);
    unsigned char* m = p80.line();
    ASSERT_TRUE(p80.at().put_pixel(p80.kq, m, 1, 1, 2, 3, 4));
    ASSERT_TRUE(p80.at().put_value(p80.kq, m, 1, -2));
    EXPECT_EQ(std::vector<unsigned char>(m + 10, m + 20),
              (std::vector<unsigned char>{0x00, 0x10, 0x02, 0x00, 0x30, 0x04, 0xFE, 0xFF, 0xFF,
                                          0xFF}));
    int32_t v = 0;
    ASSERT_TRUE(p80.at().get_value(p80.kq, m, 1, &v));
    EXPECT_EQ(v, -2);
    EXPECT_FALSE(p80.at().get_aux(p80.kq, m, 1, &v));
    EXPECT_EQ(kq_errno, KQ_ERR_ACCESS);
}

TEST(LibkqAccess, ValuesAndAuxValues) {
    // 32 bits with a value: least significant byte first in memory.
    Picture p32(2, 1, 32, 8);
    ASSERT_TRUE(p32.at().put_value(p32.kq, p32.line(), 1, 0x01020304));
    EXPECT_EQ(std::vector<unsigned char>(p32.data.begin() + 4, p32.data.begin() + 8),
              (std::vector<unsigned char>{4, 3, 2, 1}));
    int32_t v = 0;
    ASSERT_TRUE(p32.at().get_value(p32.kq, p32.line(), 1, &v));
    EXPECT_EQ(v, 0x01020304);
    int c = 0;
    EXPECT_FALSE(kq_get_pixel(p32.kq, p32.line(), 0, &c, &c, &c, &c));
    EXPECT_EQ(kq_errno, KQ_ERR_ACCESS);

    Picture colour(2, 1, 64, 14);
    ASSERT_TRUE(colour.at().put_pixel(colour.kq, colour.line(), 1, 1, 2, 3, 4));
    ASSERT_TRUE(colour.at().put_value(colour.kq, colour.line(), 1, 0x0A0B0C0D));
    EXPECT_EQ(std::vector<unsigned char>(colour.data.begin() + 8, colour.data.begin() + 16),
              (std::vector<unsigned char>{1, 2, 3, 4, 0x0D, 0x0C, 0x0B, 0x0A}));
    EXPECT_FALSE(colour.at().put_aux(colour.kq, colour.line(), 1, 0));
    EXPECT_EQ(kq_errno, KQ_ERR_ACCESS);

    Picture aux(2, 1, 64, 0x10);
    ASSERT_TRUE(aux.at().put_value(aux.kq, aux.line(), 0, 7));
    ASSERT_TRUE(aux.at().put_aux(aux.kq, aux.line(), 0, -1));
    EXPECT_EQ(std::vector<unsigned char>(aux.data.begin(), aux.data.begin() + 8),
              (std::vector<unsigned char>{0xFF, 0xFF, 0xFF, 0xFF, 7, 0, 0, 0}));
    ASSERT_TRUE(aux.at().get_aux(aux.kq, aux.line(), 0, &v));
    EXPECT_EQ(v, -1);
    EXPECT_FALSE(aux.at().put_pixel(aux.kq, aux.line(), 0, 1, 1, 1, 1));
    EXPECT_EQ(kq_errno, KQ_ERR_ACCESS);
}

TEST(LibkqAccess, OutsideThePictureTouchesNothing) {
    Picture p(2, 2, 8, 1);
    int c = kUnset;
    EXPECT_FALSE(p.at().get_pixel(p.kq, p.line(), 2, &c, nullptr, nullptr, nullptr));
    EXPECT_EQ(kq_errno, KQ_ERR_OUT_OF_WINDOW);
    EXPECT_EQ(c, kUnset);
    EXPECT_FALSE(p.at().put_pixel(p.kq, p.line(), -1, 9, 0, 0, 0));
    EXPECT_FALSE(p.at().put_pixel_at(p.kq, p.line(), 0, 2, 9, 0, 0, 0));
    EXPECT_EQ(kq_errno, KQ_ERR_OUT_OF_WINDOW);
    EXPECT_FALSE(p.at().get_pixel_at(p.kq, p.line(), 0, -1, &c, nullptr, nullptr, nullptr));
    for (unsigned char b : p.data) EXPECT_EQ(b, 0);
    // A slot the layout lacks refuses before any range test.
    EXPECT_FALSE(p.at().get_value(p.kq, p.line(), -1, nullptr));
    EXPECT_EQ(kq_errno, KQ_ERR_ACCESS);
}

TEST(LibkqAccess, BlockMembersFindRowsTopFirst) {
    // A frame: y = 0 is the bottom row, stored last.
    Picture frame(2, 3, 8, 1);
    ASSERT_TRUE(frame.at().put_pixel_at(frame.kq, frame.data.data(), 1, 0, 9, 0, 0, 0));
    ASSERT_TRUE(frame.at().put_pixel_at(frame.kq, frame.data.data(), 0, 2, 7, 0, 0, 0));
    EXPECT_EQ(std::vector<unsigned char>(frame.data.begin(), frame.data.begin() + 6),
              (std::vector<unsigned char>{7, 0, 0, 0, 0, 9}));
    int c = kUnset;
    ASSERT_TRUE(frame.at().get_pixel_at(frame.kq, frame.data.data(), 1, 0, &c, nullptr, nullptr,
                                        nullptr));
    EXPECT_EQ(c, 9);

    // Odd field at origin 0 with rows 0..4: rows 3 and 1 are stored, in that order.
    Picture odd(1, 5, 8, 1, 'O', 0);
    ASSERT_EQ(odd.kq->line_count, 2);
    ASSERT_TRUE(odd.at().put_pixel_at(odd.kq, odd.data.data(), 0, 1, 11, 0, 0, 0));
    ASSERT_TRUE(odd.at().put_pixel_at(odd.kq, odd.data.data(), 0, 3, 33, 0, 0, 0));
    ASSERT_TRUE(odd.at().put_pixel_at(odd.kq, odd.data.data(), 0, 2, 22, 0, 0, 0));  // not stored
    EXPECT_EQ(kq_errno, 0);
    EXPECT_EQ(odd.data[0], 33);
    EXPECT_EQ(odd.data[1], 11);
    EXPECT_EQ(odd.data[2], 0);
    c = kUnset;
    ASSERT_TRUE(odd.at().get_pixel_at(odd.kq, odd.data.data(), 0, 2, &c, nullptr, nullptr, nullptr));
    EXPECT_EQ(c, kUnset);

    // Even field with an odd, negative origin: rows -3..0, stored rows 0 and -2.
    Picture even(1, 4, 32, 8, 'E', -3);
    ASSERT_EQ(even.kq->line_count, 2);
    ASSERT_TRUE(even.at().put_value_at(even.kq, even.data.data(), 0, 1, 0x11));  // row -2
    ASSERT_TRUE(even.at().put_value_at(even.kq, even.data.data(), 0, 3, 0x33));  // row 0
    EXPECT_EQ(even.data[0], 0x33);
    EXPECT_EQ(even.data[4], 0x11);
    int32_t v = kUnset;
    ASSERT_TRUE(even.at().get_value_at(even.kq, even.data.data(), 0, 0, &v));  // row -3
    EXPECT_EQ(v, kUnset);
    ASSERT_TRUE(even.at().get_value_at(even.kq, even.data.data(), 0, 1, &v));
    EXPECT_EQ(v, 0x11);

    Picture aux(1, 2, 64, 0x18);
    ASSERT_TRUE(aux.at().put_aux_at(aux.kq, aux.data.data(), 0, 0, 5));
    EXPECT_EQ(aux.data[8], 5);
    ASSERT_TRUE(aux.at().get_aux_at(aux.kq, aux.data.data(), 0, 0, &v));
    EXPECT_EQ(v, 5);
    EXPECT_FALSE(aux.at().get_aux_at(aux.kq, aux.data.data(), 0, 2, &v));
    EXPECT_EQ(kq_errno, KQ_ERR_OUT_OF_WINDOW);
}

TEST(LibkqAccess, PixelToFloatAndColourBits) {
    float f[4] = {-1, -1, -1, -1};
    Picture p12(1, 1, 12, 1);
    kq_pixel_to_float(p12.kq, 4095, 0, 0, 0, &f[0], &f[1], &f[2], &f[3]);
    EXPECT_EQ(f[0], 1.0f);
    EXPECT_EQ(f[1], -1.0f);
    Picture p1(1, 1, 1, 1);
    kq_pixel_to_float(p1.kq, 7, 0, 0, 0, &f[0], &f[1], &f[2], &f[3]);
    EXPECT_EQ(f[0], 1.0f);
    kq_pixel_to_float(p1.kq, 0, 0, 0, 0, &f[0], &f[1], &f[2], &f[3]);
    EXPECT_EQ(f[0], 0.0f);
    Picture p64(1, 1, 64, 14);
    kq_pixel_to_float(p64.kq, 128, 255, 0, 1, &f[0], &f[1], &f[2], &f[3]);
    EXPECT_EQ(f[0], static_cast<float>(128 * (1.0 / 255.0)));
    EXPECT_EQ(f[1], 1.0f);
    EXPECT_EQ(f[3], static_cast<float>(1.0 / 255.0));
    Picture p36(1, 1, 36, 4);
    f[3] = -1;
    kq_pixel_to_float(p36.kq, 1, 2, 3, 4, &f[0], &f[1], &f[2], &f[3]);
    EXPECT_EQ(f[2], static_cast<float>(3 * (1.0 / 4095.0)));
    EXPECT_EQ(f[3], -1.0f);
    p36.kq->bitlen = 16;  // not a picture bit length: nothing written
    f[0] = -1;
    kq_pixel_to_float(p36.kq, 1, 2, 3, 4, &f[0], &f[1], &f[2], &f[3]);
    EXPECT_EQ(f[0], -1.0f);

    EXPECT_EQ(kq_has_color(p12.kq), 1);
    EXPECT_EQ(kq_has_color(p36.kq), 1);
    Picture value(1, 1, 32, 8);
    EXPECT_EQ(kq_has_color(value.kq), 0);
    Picture aux(1, 1, 64, 0x10);
    EXPECT_EQ(kq_has_color(aux.kq), 0);
}

TEST(LibkqAccess, UnknownBitLengthKeepsTheTable) {
    Picture p(2, 1, 8, 1);
    p.kq->bitlen = 16;
    kq__choose_access(p.kq);
    int c = kUnset;
    p.data[1] = 42;
    ASSERT_TRUE(p.at().get_pixel(p.kq, p.line(), 1, &c, nullptr, nullptr, nullptr));
    EXPECT_EQ(c, 42);
}

// Four-byte pixels into planes: the vector loops against the plain one, for every
// byte order a caller uses, lengths around each vector step and unaligned starts.
TEST(LibkqAccess, SplitFourBytePixelsMatchesThePlainLoop) {
    std::mt19937 rng(44);
    const int orders[][4] = {{0, 1, 2, 3}, {3, 2, 1, 0}, {2, 1, 0, 3}, {1, 3, 0, 2}, {0, 0, 3, 3}};
    for (const auto& at : orders) {
        for (int64_t n : {0, 1, 15, 16, 17, 31, 32, 33, 63, 64, 100, 1000}) {
            for (int64_t skew : {0, 3}) {
                std::vector<unsigned char> in(size_t(4 * n + skew));
                for (auto& b : in) b = static_cast<unsigned char>(rng());
                std::vector<uint8_t> got(size_t(4 * n + 4)), want(size_t(4 * n + 4));
                uint8_t* const g[4] = {got.data(), got.data() + n + 1, got.data() + 2 * n + 2,
                                       got.data() + 3 * n + 3};
                uint8_t* const w[4] = {want.data(), want.data() + n + 1, want.data() + 2 * n + 2,
                                       want.data() + 3 * n + 3};
                kq_split4(in.data() + skew, n, at, g);
                kq_split4_plain(in.data() + skew, n, at, w);
                EXPECT_EQ(got, want) << "n " << n << " skew " << skew << " order " << at[0] << at[1]
                                     << at[2] << at[3];
            }
        }
    }
}
