#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

#include "bmp_bytes.h"
#include "render/bmp.h"

namespace {

using bmp_test::Bytes;
using bmp_test::get32;

class BmpFile : public bmp_test::TempDir {};

// A three-channel record whose pixel (x, y) is R = 10x + y, G = 100 + y, B = 200 + x.
Image numbered(std::int32_t width, std::int32_t height) {
    Image image;
    EXPECT_EQ(alloc_image(width, height, 3, image), 1);
    for (std::int32_t y = 0; y < height; ++y)
        for (std::int32_t x = 0; x < width; ++x) {
            std::uint8_t* p = image.pixels.get() + (y * width + x) * 3;
            p[0] = static_cast<std::uint8_t>(10 * x + y);
            p[1] = static_cast<std::uint8_t>(100 + y);
            p[2] = static_cast<std::uint8_t>(200 + x);
        }
    return image;
}

TEST_F(BmpFile, ThreeByTwoIsStoredBottomRowFirstAsBgrWithZeroFill) {
    const Image image = numbered(3, 2);
    ASSERT_EQ(write_bmp(path("a.bmp").c_str(), image), 1);
    const Bytes file = load(path("a.bmp"));
    // 9 pixel bytes per row, 3 fill bytes: 54 + 12 * 2.
    ASSERT_EQ(file.size(), 78u);
    // Magic, file size, reserved, offset 54, header size 40, width 3, height 2, planes 1,
    // 24 bits, no compression, image size 0, 2835 pixels per metre both ways, no colours.
    const Bytes header = {'B', 'M', 78,   0,    0, 0, 0,    0,    0, 0, 54, 0, 0, 0, 40, 0, 0, 0,
                          3,   0,   0,    0,    2, 0, 0,    0,    1, 0, 24, 0, 0, 0, 0,  0, 0, 0,
                          0,   0,   0x13, 0x0B, 0, 0, 0x13, 0x0B, 0, 0, 0,  0, 0, 0, 0,  0, 0, 0};
    EXPECT_EQ(Bytes(file.begin(), file.begin() + 54), header);
    const Bytes rows = {200, 100, 0, 201, 100, 10, 202, 100, 20, 0, 0, 0,
                        200, 101, 1, 201, 101, 11, 202, 101, 21, 0, 0, 0};
    EXPECT_EQ(Bytes(file.begin() + 54, file.end()), rows);
}

TEST_F(BmpFile, WrittenPicturesReadBackUnchanged) {
    // 4 pixels are 12 bytes, no fill; 3 and 5 need fill; 1 x 1 is the smallest.
    for (auto [w, h] : {std::pair{3, 2}, {4, 2}, {5, 3}, {1, 1}, {7, 0}}) {
        const Image image = numbered(w, h);
        ASSERT_EQ(write_bmp(path("p.bmp").c_str(), image), 1);
        const Bytes file = load(path("p.bmp"));
        const std::size_t padded = (static_cast<std::size_t>(w) * 3 + 3) / 4 * 4;
        EXPECT_EQ(file.size(), 54 + padded * h);
        EXPECT_EQ(get32(file, 2), file.size()) << "size field";
        EXPECT_EQ(get32(file, 34), 0u) << "image size field";

        Image back;
        ASSERT_EQ(read_both(file, back), 1) << w << "x" << h;
        EXPECT_EQ(back.width, w);
        EXPECT_EQ(back.height, h);
        EXPECT_EQ(back.channels, 3);
        const std::size_t n = static_cast<std::size_t>(w) * h * 3;
        EXPECT_TRUE(std::equal(back.pixels.get(), back.pixels.get() + n, image.pixels.get()));
    }
}

TEST_F(BmpFile, WidestRowThatFitsTheRowBufferIsWrittenAndRead) {
    const Image wide = numbered(6144, 2);
    ASSERT_EQ(write_bmp(path("w.bmp").c_str(), wide), 1);
    Image back;
    ASSERT_EQ(read_bmp(path("w.bmp").c_str(), back), 1);
    EXPECT_EQ(back.width, 6144);
    EXPECT_EQ(back.pixels[(6144 + 6143) * 3 + 2], static_cast<std::uint8_t>(200 + 6143));
}

TEST_F(BmpFile, ZeroWidthRowsAreNotWrittenOneByOne) {
    // Any number of empty rows is just the header.
    Image image;
    ASSERT_EQ(alloc_image(0, std::numeric_limits<std::int32_t>::max(), 3, image), 1);
    ASSERT_EQ(write_bmp(path("z.bmp").c_str(), image), 1);
    const Bytes file = load(path("z.bmp"));
    ASSERT_EQ(file.size(), 54u);
    EXPECT_EQ(get32(file, 22), 0x7FFFFFFFu);
}

TEST_F(BmpFile, WriterRefusesRecordsItCannotStoreFaithfully) {
    Image rgba = numbered(2, 2);
    ASSERT_EQ(rgb_to_rgba(rgba), 1);
    EXPECT_EQ(write_bmp(path("rgba.bmp").c_str(), rgba), 0);
    EXPECT_EQ(write_bmp(path("wide.bmp").c_str(), numbered(6145, 1)), 0);
    Image hollow;
    hollow.width = 2;  // sizes without pixels
    hollow.height = 2;
    hollow.channels = 3;
    EXPECT_EQ(write_bmp(path("hollow.bmp").c_str(), hollow), 0);
    EXPECT_FALSE(std::filesystem::exists(path("rgba.bmp")));
    EXPECT_FALSE(std::filesystem::exists(path("wide.bmp")));
}

TEST_F(BmpFile, WriterReportsFilesItCouldNotCreateOrFinish) {
    const Image image = numbered(3, 2);
    EXPECT_EQ(write_bmp(path("no/such/folder/a.bmp").c_str(), image), 0);
    // Every write to /dev/full fails for want of space, at the latest when closing.
    if (std::filesystem::exists("/dev/full")) {
        EXPECT_EQ(write_bmp("/dev/full", image), 0);
    }
}

TEST_F(BmpFile, OnlyExactPureRedBecomesTransparent) {
    // Stored B, G, R: the key (red), red 254, green 1, pure blue (the key's bytes
    // in file order), black.
    const Bytes stored = {0, 0, 255, 0, 0, 254, 0, 1, 255, 255, 0, 0, 0, 0, 0};
    Bytes file = bmp_test::make_bmp(5, 1);
    std::copy(stored.begin(), stored.end(), file.begin() + 54);
    Image image;
    ASSERT_EQ(read_both(file, image), 1);
    ASSERT_EQ(rgb_to_rgba(image), 1);
    ASSERT_EQ(image.channels, 4);
    EXPECT_EQ(image.width, 5);
    const int alpha[5] = {0, 255, 255, 255, 255};
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(image.pixels[i * 4 + 3], alpha[i]) << "pixel " << i;
        for (int c = 0; c < 3; ++c) EXPECT_EQ(image.pixels[i * 4 + c], stored[i * 3 + 2 - c]);
    }
    EXPECT_EQ(rgb_to_rgba(image), 0);  // already four channels: nothing to convert
    EXPECT_EQ(image.channels, 4);
}

TEST(AllocImage, GivesZeroedBuffersAndRefusesSizesThatDoNotFit) {
    Image image;
    ASSERT_EQ(alloc_image(3, 2, 4, image), 1);
    for (int i = 0; i < 24; ++i) EXPECT_EQ(image.pixels[i], 0);
    ASSERT_EQ(alloc_image(0, 5, 3, image), 1);  // no pixels, but a filled record
    EXPECT_NE(image.pixels, nullptr);

    constexpr std::int32_t big = std::numeric_limits<std::int32_t>::max();
    EXPECT_EQ(alloc_image(-1, 2, 3, image), 0);
    EXPECT_TRUE(bmp_test::is_empty(image));
    EXPECT_EQ(alloc_image(2, -1, 3, image), 0);
    EXPECT_EQ(alloc_image(65536, 65536, 3, image), 0);  // wraps to 0 in 32 bits
    EXPECT_EQ(alloc_image(big, big, 3, image), 0);
    EXPECT_TRUE(bmp_test::is_empty(image));

    ASSERT_EQ(alloc_image(2, 2, 3, image), 1);
    free_image(image);
    EXPECT_TRUE(bmp_test::is_empty(image));
}

}  // namespace
