#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "bmp_bytes.h"
#include "render/bmp.h"

namespace {

using bmp_test::Bytes;
using bmp_test::make_bmp;
using bmp_test::put16;
using bmp_test::put32;

class BmpReader : public bmp_test::TempDir {};

struct BadFile {
    std::string what;
    Bytes bytes;
};

Bytes with16(Bytes b, std::size_t at, std::uint32_t v) {
    put16(b, at, v);
    return b;
}
Bytes with32(Bytes b, std::size_t at, std::uint32_t v) {
    put32(b, at, v);
    return b;
}
Bytes cut(Bytes b, std::size_t drop) {
    b.resize(b.size() - drop);
    return b;
}

constexpr std::size_t MAGIC = 0, WIDTH = 18, HEIGHT = 22, BITS = 28, COMPRESSION = 30;

std::vector<BadFile> refused_files() {
    const Bytes good = make_bmp(3, 4);  // rows of 9 bytes + 3 fill
    const auto neg = [](std::int32_t v) { return static_cast<std::uint32_t>(v); };
    return {
        {"empty file", {}},
        {"header cut short", cut(good, good.size() - 53)},
        {"magic MB", with16(good, MAGIC, 0x424D)},
        {"magic BA", with16(good, MAGIC, 0x4142)},
        {"8 bits per pixel", with16(good, BITS, 8)},
        {"16 bits per pixel", with16(good, BITS, 16)},
        {"23 bits per pixel", with16(good, BITS, 23)},
        {"32 bits per pixel", with16(good, BITS, 32)},
        {"-24 bits per pixel", with16(good, BITS, 0xFFE8)},
        {"run-length compression 1", with32(good, COMPRESSION, 1)},
        {"run-length compression 2", with32(good, COMPRESSION, 2)},
        {"bit-field compression 3", with32(good, COMPRESSION, 3)},
        {"negative width", with32(good, WIDTH, neg(-3))},
        {"negative height (top-down rows)", with32(good, HEIGHT, neg(-4))},
        {"most negative height",
         with32(good, HEIGHT, neg(std::numeric_limits<std::int32_t>::min()))},
        {"width x height x 3 beyond 32 bits",
         with32(with32(good, WIDTH, 1), HEIGHT, neg(std::numeric_limits<std::int32_t>::max()))},
        {"width and height so large that even 64 bits overflow",
         with32(with32(good, WIDTH, 0x6F000000), HEIGHT, 0x7FFFFFFF)},
        {"width x height x 3 wraps to a small number",
         with32(with32(good, WIDTH, 4096), HEIGHT, 0x55556)},  // 3 * 4096 * 0x55556 = 2^32 + 8192
        {"one whole row missing", cut(good, 12)},
        {"last row's pixel bytes cut", cut(good, 4)},
        {"rows claimed but none stored", cut(good, 48)},
        // 6145 pixels need 18436 bytes a row: over the row buffer, though the file is complete.
        {"row wider than the row buffer", make_bmp(6145, 1)},
    };
}

TEST_F(BmpReader, RefusedFilesLeaveTheRecordEmpty) {
    for (const BadFile& bad : refused_files()) {
        Image image;
        ASSERT_EQ(alloc_image(2, 2, 3, image), 1);  // a refusal must not leave this behind
        EXPECT_EQ(read_both(bad.bytes, image), 0) << bad.what;
        EXPECT_TRUE(bmp_test::is_empty(image)) << bad.what;
    }
}

TEST_F(BmpReader, MissingFileIsRefused) {
    Image image;
    EXPECT_EQ(read_bmp(path("absent.bmp").c_str(), image), 0);
    EXPECT_EQ(read_bmp(dir_.string().c_str(), image), 0);  // a folder is no picture
    EXPECT_TRUE(bmp_test::is_empty(image));
}

// Pixel (x, y) of a make_bmp file reads as R = 200, G = y, B = x.
void expect_numbered(const Image& image, std::int32_t width, std::int32_t height) {
    ASSERT_EQ(image.width, width);
    ASSERT_EQ(image.height, height);
    ASSERT_EQ(image.channels, 3);
    for (std::int32_t y = 0; y < height; ++y)
        for (std::int32_t x = 0; x < width; ++x) {
            const std::uint8_t* p = image.pixels.get() + (y * width + x) * 3;
            ASSERT_EQ(p[0], 200);
            ASSERT_EQ(p[1], y);
            ASSERT_EQ(p[2], x);
        }
}

TEST_F(BmpReader, AcceptsEveryBitCountThatDividesToThreeBytes) {
    for (std::uint32_t bits = 24; bits <= 31; ++bits) {
        Image image;
        ASSERT_EQ(read_both(with16(make_bmp(3, 2), BITS, bits), image), 1) << bits;
        expect_numbered(image, 3, 2);
    }
}

TEST_F(BmpReader, TakesRowsFromByte54WhateverOffsetAndHeaderSizeSay) {
    Bytes file = make_bmp(4, 3);
    put32(file, 10, 138);  // offset as a 124-byte header would give
    put32(file, 14, 124);
    put32(file, 2, 7);  // and a nonsense size field
    Image image;
    ASSERT_EQ(read_both(file, image), 1);
    expect_numbered(image, 4, 3);
}

TEST_F(BmpReader, LastRowMayLackItsFillAndTrailingBytesAreIgnored) {
    Image image;
    ASSERT_EQ(read_both(cut(make_bmp(3, 4), 3), image), 1);
    expect_numbered(image, 3, 4);
    Bytes longer = make_bmp(3, 4);
    longer.resize(longer.size() + 100, 0x77);
    ASSERT_EQ(read_both(longer, image), 1);
    expect_numbered(image, 3, 4);
}

TEST_F(BmpReader, PicturesWithoutPixelsAreReadWithoutTouchingRows) {
    Image image;
    ASSERT_EQ(read_both(with32(make_bmp(5, 1), HEIGHT, 0), image), 1);
    EXPECT_EQ(image.width, 5);
    EXPECT_EQ(image.height, 0);
    EXPECT_EQ(image.channels, 3);
    // Zero width and the largest height: no bytes to read, so nothing to wait for.
    Bytes tall = with32(make_bmp(1, 1), WIDTH, 0);
    put32(tall, HEIGHT, std::numeric_limits<std::int32_t>::max());
    ASSERT_EQ(read_both(tall, image), 1);
    EXPECT_EQ(image.width, 0);
    EXPECT_EQ(image.height, std::numeric_limits<std::int32_t>::max());
}

}  // namespace
