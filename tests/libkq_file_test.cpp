// libkq handle, header, format setters, field geometry and scanline transfer.
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "libkq/kq.h"
#include "tests/kqc_runner.h"

namespace {

std::string header_text(const KQ_DATA* kq) {
    unsigned char out[128];
    kq__format_header(kq, out);
    return std::string(reinterpret_cast<char*>(out), 128);
}

// A 128-byte header from free text: the text, then a zero byte, then spaces.
std::string raw_header(const std::string& text) {
    std::string h = text;
    h += '\0';
    h.resize(128, ' ');
    return h;
}

int parse(KQ_DATA* kq, const std::string& h) {
    return kq__parse_header(kq, reinterpret_cast<const unsigned char*>(h.data()));
}

struct Handle {
    KQ_DATA* kq = kq_alloc();
    ~Handle() { kq_free(kq); }
    KQ_DATA* operator->() { return kq; }
};

}  // namespace

TEST(LibkqErrors, TableHasThirtySevenMessagesThenNull) {
    int n = 0;
    while (kq_errlist[n]) ++n;
    EXPECT_EQ(n, 37);
    EXPECT_STREQ(kq_errlist[0], "Error 0");
    EXPECT_STREQ(kq_errlist[5], "Can't fork 'zcat' prosess");
    EXPECT_STREQ(kq_errlist[13], "Can't alloc packed scanline data array");
    EXPECT_STREQ(kq_errlist[19], "Can't read packed pixel data");
    EXPECT_STREQ(kq_errlist[24], "Bad pixel aspect retio");
    EXPECT_STREQ(kq_errlist[29], "Invalid picture bitlenght");
    EXPECT_STREQ(kq_errlist[30], "Invalid pixel aspect retio");
    EXPECT_STREQ(kq_errlist[36], "Can't rewind scanline");
}

TEST(LibkqHandle, AllocAndInitReset) {
    Handle h;
    ASSERT_NE(h.kq, nullptr);
    EXPECT_EQ(h->name, nullptr);
    EXPECT_EQ(h->field, 'B');
    EXPECT_EQ(h->fd, -1);
    EXPECT_EQ(h->child_pid, -1);
    EXPECT_EQ(h->open_mode, 0);
    // A fresh handle's table refuses every slot.
    unsigned char line[8] = {};
    int c = 0;
    EXPECT_EQ(h->access.get_pixel(h.kq, line, 0, &c, &c, &c, &c), 0);
    EXPECT_EQ(kq_errno, KQ_ERR_ACCESS);
    ASSERT_TRUE(kq_set_format(h.kq, 4, 4, 8, 'B', 1));
    kq_init(h.kq);
    EXPECT_EQ(h->size_x, 0);
    EXPECT_EQ(h->bitlen, 0u);
    // kq_init keeps the table chosen by the format.
    EXPECT_EQ(h->access.get_pixel(h.kq, line, 0, &c, &c, &c, &c), 0);
    EXPECT_EQ(kq_errno, KQ_ERR_OUT_OF_WINDOW);
}

TEST(LibkqHeader, WriterIsByteExact) {
    Handle h;
    ASSERT_TRUE(kq_set_origin(h.kq, -2, 7));
    ASSERT_TRUE(kq_set_format(h.kq, 640, 480, 32, 'B', 6));
    ASSERT_TRUE(kq_set_aspect(h.kq, 100000, 100000));
    const std::string expect = std::string("2Bkq16        32      -2       7     640     480  100000  100000 B 0x 6") +
                               '\0' + std::string(56, ' ');
    ASSERT_EQ(expect.size(), 128u);
    EXPECT_EQ(header_text(h.kq), expect);

    h->data_type = 14;
    EXPECT_EQ(header_text(h.kq).substr(67, 4), "0x e");
    h->data_type = 0x10;
    EXPECT_EQ(header_text(h.kq).substr(67, 4), "0x10");
    h->org_x = -999999;
    h->size_x = 9999999;
    EXPECT_EQ(header_text(h.kq).substr(16, 9), " -999999 ");
    EXPECT_EQ(header_text(h.kq).substr(32, 9), " 9999999 ");
}

TEST(LibkqHeader, ReaderToleratesSpacingAndOldHeaders) {
    Handle h;
    ASSERT_TRUE(parse(h.kq, raw_header("2Bkq16 24 1 -3 5 6 7 8 E 0x4")));
    EXPECT_EQ(h->bitlen, 24u);
    EXPECT_EQ(h->org_x, 1);
    EXPECT_EQ(h->org_y, -3);
    EXPECT_EQ(h->size_x, 5);
    EXPECT_EQ(h->size_y, 6);
    EXPECT_EQ(h->aspect_x, 7);
    EXPECT_EQ(h->aspect_y, 8);
    EXPECT_EQ(h->field, 'E');
    EXPECT_EQ(h->data_type, 4);
    // Nine fields: the default data type for the bit length.
    ASSERT_TRUE(parse(h.kq, raw_header("2Bkq16\t32\n0 0 4 4 1 1 B")));
    EXPECT_EQ(h->data_type, 6);
    ASSERT_TRUE(parse(h.kq, raw_header("2Bkq13 64 0 0 4 4 1 1 O")));
    EXPECT_EQ(h->data_type, 0x0E);
    // Only the low 8 bits of the hexadecimal field.
    ASSERT_TRUE(parse(h.kq, raw_header("2Bkq09 64 0 0 4 4 1 1 B 0x1f")));
    EXPECT_EQ(h->data_type, 0x1F);
}

TEST(LibkqHeader, ReaderRefusesBadTagsAndShortText) {
    Handle h;
    const std::string rest = " 8 0 0 4 4 1 1 B 0x1";
    EXPECT_TRUE(parse(h.kq, raw_header("2Bkq16" + rest)));
    EXPECT_EQ(kq_errno, 0);
    EXPECT_FALSE(parse(h.kq, raw_header("2Bkq26" + rest)));
    EXPECT_EQ(kq_errno, KQ_ERR_VERSION);
    EXPECT_FALSE(parse(h.kq, raw_header("2Bkq12" + rest)));
    EXPECT_EQ(kq_errno, KQ_ERR_MACHINE);
    EXPECT_FALSE(parse(h.kq, raw_header("2Bkq1:" + rest)));
    EXPECT_EQ(kq_errno, KQ_ERR_MACHINE);
    EXPECT_FALSE(parse(h.kq, raw_header("2Bkx16" + rest)));
    EXPECT_EQ(kq_errno, KQ_ERR_TAG);
    EXPECT_FALSE(parse(h.kq, raw_header("2Bkq16 8 0 0 4 4 1 1")));
    EXPECT_EQ(kq_errno, KQ_ERR_READ_HEADER);
    EXPECT_FALSE(parse(h.kq, raw_header("")));
    EXPECT_EQ(kq_errno, KQ_ERR_READ_HEADER);
    EXPECT_FALSE(parse(h.kq, std::string(128, '\xff')));
    EXPECT_EQ(kq_errno, KQ_ERR_READ_HEADER);
}

TEST(LibkqHeader, CheckRefusesBadFields) {
    struct Case {
        const char* text;
        int code;
    } cases[] = {
        {"2Bkq16 8 0 0 4 4 1 1 B 0x1", 0},
        {"2Bkq16 7 0 0 4 4 1 1 B 0x1", KQ_ERR_BAD_BITLEN},
        {"2Bkq16 8 0 0 0 4 1 1 B 0x1", KQ_ERR_BAD_SIZE},
        {"2Bkq16 8 0 0 4 -1 1 1 B 0x1", KQ_ERR_BAD_SIZE},
        {"2Bkq16 8 0 0 4 4 -1 1 B 0x1", KQ_ERR_BAD_ASPECT},
        {"2Bkq16 8 0 0 4 4 1 0 B 0x1", KQ_ERR_BAD_ASPECT},
        {"2Bkq16 8 0 0 4 4 1 1 X 0x1", KQ_ERR_BAD_FIELD},
        {"2Bkq16 8 0 0 4 4 1 1 B 0x4", KQ_ERR_DATA_TYPE},
        // Scanlines that cannot be addressed: 2 GiB and more.
        {"2Bkq16 32 0 0 32768 16384 1 1 B 0x6", KQ_ERR_BAD_SIZE},
        {"2Bkq16 80 0 0 9999999 9999999 1 1 B 0xe", KQ_ERR_BAD_SIZE},
        {"2Bkq16 32 0 0 32767 16384 1 1 B 0x6", 0},
    };
    for (const Case& c : cases) {
        Handle h;
        ASSERT_TRUE(parse(h.kq, raw_header(c.text))) << c.text;
        EXPECT_EQ(kq_check_header(h.kq), c.code == 0 ? 1 : 0) << c.text;
        EXPECT_EQ(kq_errno, c.code) << c.text;
    }
}

TEST(LibkqFormat, SettersCheckRangesInOrder) {
    Handle h;
    EXPECT_TRUE(kq_set_origin(h.kq, -999999, 9999999));
    EXPECT_FALSE(kq_set_origin(h.kq, -1000000, 0));
    EXPECT_EQ(kq_errno, KQ_ERR_SET_ORIGIN);
    EXPECT_FALSE(kq_set_origin(h.kq, 0, 10000000));
    EXPECT_EQ(h->org_x, -999999);
    EXPECT_EQ(h->org_y, 9999999);
    ASSERT_TRUE(kq_set_origin(h.kq, 0, 0));

    // Errors come in the order size, bitlen, field, data type.
    EXPECT_FALSE(kq_set_format(h.kq, 10000000, 1, 7, 'X', 99));
    EXPECT_EQ(kq_errno, KQ_ERR_SET_SIZE);
    EXPECT_FALSE(kq_set_format(h.kq, 1, 1, 7, 'X', 99));
    EXPECT_EQ(kq_errno, KQ_ERR_SET_BITLEN);
    EXPECT_FALSE(kq_set_format(h.kq, 1, 1, 8, 'X', 99));
    EXPECT_EQ(kq_errno, KQ_ERR_SET_FIELD);
    EXPECT_FALSE(kq_set_format(h.kq, 1, 1, 8, 'B', 4));
    EXPECT_EQ(kq_errno, KQ_ERR_DATA_TYPE);
    EXPECT_EQ(h->bitlen, 0u);  // nothing stored by a failure
    // Sizes too large to address are refused as sizes.
    EXPECT_FALSE(kq_set_format(h.kq, 9999999, 9999999, 32, 'B', 6));
    EXPECT_EQ(kq_errno, KQ_ERR_SET_SIZE);
    // Zero and negative sizes pass: only the range is tested.
    EXPECT_TRUE(kq_set_format(h.kq, 0, -5, 8, 'B', 1));
    EXPECT_EQ(kq_errno, 0);
    // Also at the ends of the range, where the byte count would not fit its field.
    EXPECT_TRUE(kq_set_format(h.kq, -999999, -999999, 80, 'B', 0x0E));
    EXPECT_EQ(h->data_bytes, 0);
    EXPECT_TRUE(kq_set_format(h.kq, 9999999, -999999, 80, 'E', 0x0E));
    ASSERT_TRUE(kq_set_format(h.kq, 0, -5, 8, 'B', 1));  // the size read back below

    EXPECT_FALSE(kq_set_aspect(h.kq, 0, 1));
    EXPECT_EQ(kq_errno, KQ_ERR_SET_ASPECT);
    EXPECT_FALSE(kq_set_aspect(h.kq, 1, 10000000));
    EXPECT_TRUE(kq_set_aspect(h.kq, -4, 3));
    EXPECT_EQ(h->aspect_x, -4);
    int x, y;
    kq_get_origin(h.kq, &x, &y);
    EXPECT_EQ(x, 0);
    kq_get_size(h.kq, &x, &y);
    EXPECT_EQ(x, 0);
    EXPECT_EQ(y, -5);
}

TEST(LibkqFormat, DataTypesByBitLength) {
    const int bitlens[] = {1, 8, 12, 24, 32, 36, 48, 64, 80};
    auto valid = [](int bitlen, int t) {
        const int low = t & 0x0F;
        switch (bitlen) {
            case 1: case 8: case 12: return low == 1 || low == 2;
            case 24: case 36: return low == 4;
            case 32: return low == 5 || low == 6 || low == 8;
            case 48: return low == 5 || low == 6;
            case 64: return low == 14 || (t & 0x10) != 0;
            default: return low == 14;
        }
    };
    for (int b : bitlens) {
        for (int t = 0; t < 256; ++t) {
            EXPECT_EQ(kq_check_data_type(t, b), valid(b, t) ? 1 : 0) << b << " " << t;
            EXPECT_EQ(kq_errno, valid(b, t) ? 0 : KQ_ERR_DATA_TYPE);
        }
        EXPECT_TRUE(kq_check_data_type(kq_default_data_type(b), b)) << b;
    }
    EXPECT_EQ(kq_default_data_type(32), 6);
    EXPECT_EQ(kq_default_data_type(12), 1);
    EXPECT_EQ(kq_default_data_type(80), 0x0E);
    EXPECT_FALSE(kq_check_data_type(1, 16));
    EXPECT_STREQ(kq_extension(), ".tkq");
    EXPECT_STREQ(kq_name_word(), "tkqName");
}

TEST(LibkqGeometry, ScanlineSizes) {
    Handle h;
    ASSERT_TRUE(kq_set_format(h.kq, 9, 3, 1, 'B', 1));
    EXPECT_EQ(h->line_bytes, 2);
    EXPECT_EQ(h->data_bytes, 6);
    ASSERT_TRUE(kq_set_format(h.kq, 3, 3, 12, 'B', 1));
    EXPECT_EQ(h->line_bytes, 5);
    ASSERT_TRUE(kq_set_format(h.kq, 1, 3, 36, 'B', 4));
    EXPECT_EQ(h->line_bytes, 5);
    ASSERT_TRUE(kq_set_format(h.kq, 7, 3, 80, 'B', 14));
    EXPECT_EQ(h->line_bytes, 70);
}

TEST(LibkqGeometry, FieldCountsAndRows) {
    struct Case {
        int org_y, size_y;
        char field;
        int count;
    } cases[] = {
        {0, 5, 'B', 5}, {0, 5, 'E', 3}, {1, 5, 'E', 2}, {0, 5, 'O', 2},  {1, 5, 'O', 3},
        {-1, 5, 'E', 2}, {-1, 5, 'O', 3}, {-2, 4, 'E', 2}, {-3, 1, 'E', 0}, {-3, 1, 'O', 1},
    };
    for (const Case& c : cases) {
        Handle h;
        ASSERT_TRUE(kq_set_origin(h.kq, 0, c.org_y));
        ASSERT_TRUE(kq_set_format(h.kq, 2, c.size_y, 8, c.field, 1));
        EXPECT_EQ(h->line_count, c.count) << c.org_y << c.field;
        // Stored rows from the top take indexes 0, 1, 2, ...
        int index = 0;
        for (int y = c.org_y + c.size_y - 1; y >= c.org_y; --y) {
            const bool stored = c.field == 'B' || (c.field == 'E') == (y % 2 == 0);
            EXPECT_EQ(kq_line_stored(h.kq, y), stored ? 1 : 0) << y;
            if (stored) {
                EXPECT_EQ(kq_lines_before(h.kq, y), index++) << y;
            }
        }
        EXPECT_EQ(index, c.count);
        EXPECT_FALSE(kq_line_stored(h.kq, c.org_y - 2));
        EXPECT_FALSE(kq_line_stored(h.kq, c.org_y + c.size_y + 1));
    }
    // An origin set after the format updates the count.
    Handle h;
    ASSERT_TRUE(kq_set_format(h.kq, 2, 5, 8, 'E', 1));
    EXPECT_EQ(h->line_count, 3);
    ASSERT_TRUE(kq_set_origin(h.kq, 0, 1));
    EXPECT_EQ(h->line_count, 2);
    EXPECT_EQ(h->data_bytes, 4);
}

namespace {

// Opens a plain write handle on a scratch file without the naming rules.
KQ_DATA* write_handle(const std::string& path, int w, int h, int bitlen, int type) {
    KQ_DATA* kq = kq_alloc();
    EXPECT_TRUE(kq_set_format(kq, w, h, bitlen, 'B', type));
    EXPECT_TRUE(kq_set_aspect(kq, 1, 1));
    EXPECT_TRUE(kq_wopen(path.c_str(), kq));
    return kq;
}

}  // namespace

TEST(LibkqScanline, ThirtyTwoBitGroupsAreReversedOnDisk) {
    ScratchDir dir;
    const std::string path = (dir / "p.tkq").string();
    KQ_DATA* kq = write_handle(path, 2, 2, 32, 6);
    unsigned char line[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    ASSERT_TRUE(kq_write_scanline(kq, line));
    // The caller's buffer holds the reversed bytes afterwards.
    EXPECT_EQ(std::vector<unsigned char>(line, line + 8),
              (std::vector<unsigned char>{4, 3, 2, 1, 8, 7, 6, 5}));
    unsigned char second[8] = {9, 10, 11, 12, 13, 14, 15, 16};
    ASSERT_TRUE(kq_write_scanlines(kq, second, 1, 1));  // already in file order
    EXPECT_EQ(second[0], 9);
    EXPECT_FALSE(kq_read_scanline(kq, line));
    EXPECT_EQ(kq_errno, KQ_ERR_READ_DATA);
    ASSERT_TRUE(kq_close(kq));
    kq_free(kq);

    const std::string bytes = read_file(path);
    ASSERT_EQ(bytes.size(), 128u + 16);
    EXPECT_EQ(bytes.substr(128), std::string("\4\3\2\1\10\7\6\5\11\12\13\14\15\16\17\20", 16));

    KQ_DATA* in = kq_ropen(path.c_str());
    ASSERT_NE(in, nullptr);
    unsigned char back[16];
    ASSERT_TRUE(kq_read_scanlines(in, back, 2));
    EXPECT_EQ(std::vector<unsigned char>(back, back + 8),
              (std::vector<unsigned char>{1, 2, 3, 4, 5, 6, 7, 8}));
    EXPECT_EQ(back[8], 12);
    EXPECT_FALSE(kq_write_scanline(in, back));
    EXPECT_EQ(kq_errno, KQ_ERR_WRITE_DATA);
    // Past the end of the data.
    EXPECT_FALSE(kq_read_scanline(in, back));
    EXPECT_EQ(kq_errno, KQ_ERR_READ_DATA);
    ASSERT_TRUE(kq_seek_scanline(in, 1, SEEK_SET));
    ASSERT_TRUE(kq_read_scanlines(in, back, 1, 1));
    EXPECT_EQ(back[0], 9);
    kq_free(in);
}

TEST(LibkqScanline, SeekMovesByScanlines) {
    ScratchDir dir;
    const std::string path = (dir / "s.tkq").string();
    KQ_DATA* kq = write_handle(path, 3, 4, 8, 1);
    for (unsigned char row = 0; row < 4; ++row) {
        unsigned char line[3] = {row, row, row};
        ASSERT_TRUE(kq_write_scanline(kq, line));
    }
    EXPECT_FALSE(kq_seek_scanline(kq, 0, SEEK_SET));
    EXPECT_EQ(kq_errno, KQ_ERR_SEEK);
    kq_free(kq);

    KQ_DATA* in = kq_ropen(path.c_str());
    ASSERT_NE(in, nullptr);
    unsigned char line[3];
    kq_errno = 7;
    ASSERT_TRUE(kq_seek_scanline(in, 2, SEEK_SET));
    EXPECT_EQ(kq_errno, 7);  // success leaves the code alone
    ASSERT_TRUE(kq_read_scanline(in, line));
    EXPECT_EQ(line[0], 2);
    ASSERT_TRUE(kq_seek_scanline(in, -2, SEEK_CUR));
    ASSERT_TRUE(kq_read_scanline(in, line));
    EXPECT_EQ(line[0], 1);
    ASSERT_TRUE(kq_seek_scanline(in, -1, SEEK_END));
    ASSERT_TRUE(kq_seek_scanline(in, 0, 7));  // unknown whence: no move
    ASSERT_TRUE(kq_read_scanline(in, line));
    EXPECT_EQ(line[0], 3);
    EXPECT_FALSE(kq_seek_scanline(in, -100, SEEK_SET));
    EXPECT_EQ(kq_errno, KQ_ERR_SEEK);
    // Standard input cannot seek, whatever its descriptor.
    free(in->name);
    in->name = strdup("STDIN");
    EXPECT_FALSE(kq_seek_scanline(in, 0, SEEK_SET));
    EXPECT_EQ(kq_errno, KQ_ERR_SEEK);
    kq_free(in);
}

TEST(LibkqScanline, TransferCollectsPiecesFromAPipe) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        close(fds[0]);
        const char data[] = "abcdefghijkl";
        for (int i = 0; i < 12; i += 3) {
            if (write(fds[1], data + i, 3) != 3) _exit(1);
            usleep(2000);
        }
        _exit(0);
    }
    close(fds[1]);
    Handle h;
    ASSERT_TRUE(kq_set_format(h.kq, 6, 2, 8, 'B', 1));
    h->fd = fds[0];
    unsigned char buf[12];
    EXPECT_TRUE(kq_read_scanlines(h.kq, buf, 2));
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), 12), "abcdefghijkl");
    // At the end of input the transfer gives up after its bounded retries.
    EXPECT_FALSE(kq_read_scanline(h.kq, buf));
    EXPECT_EQ(kq_errno, KQ_ERR_READ_DATA);
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_EQ(status, 0);
}

TEST(LibkqScanline, AllocScanlineIsZeroedAndKeepsCode) {
    Handle h;
    ASSERT_TRUE(kq_set_format(h.kq, 9, 2, 1, 'B', 1));
    kq_errno = 5;
    unsigned char* line = kq_alloc_scanline(h.kq);
    ASSERT_NE(line, nullptr);
    EXPECT_EQ(kq_errno, 5);
    EXPECT_EQ(line[0] | line[1], 0);
    free(line);
}
