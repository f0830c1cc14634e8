// BMP files written and read, held against files built field by field here
// rather than by write_bmp, so that reader and writer are each checked against
// the format and not merely against each other; and the committed pictures: that
// the picture maker still draws them, and that they keep the promises the renderer
// relies on (texture sizes, the car sheet's frames, the key colour).
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "render/bmp.h"
#include "sim/grid.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
constexpr std::int32_t MAX = std::numeric_limits<std::int32_t>::max();
// Byte offsets of the header fields the tests set; `with` knows which are 2 bytes long.
constexpr std::size_t MAGIC = 0, SIZE = 2, OFFSET = 10, HEADER = 14, WIDTH = 18, HEIGHT = 22,
                      PLANES = 26, BITS = 28, COMPRESSION = 30, X_RES = 38, Y_RES = 42;

// `b` with each little-endian field {offset, value} set.
Bytes with(Bytes b, std::initializer_list<std::pair<std::size_t, std::int64_t>> fields) {
    for (auto [at, v] : fields)
        for (int i = 0; i < (at == MAGIC || at == PLANES || at == BITS ? 2 : 4); ++i)
            b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
    return b;
}

// A 24-bit file of w x h whose stored pixel (x, y) is B = x, G = y, R = 200, with
// every header field as the writer must set it (2835 pixels per metre is 72 dpi)
// and fill bytes `fill`, which readers must ignore. Columns run in the outer loops
// so that zero width with any number of rows costs nothing.
Bytes make_bmp(std::int32_t w, std::int32_t h, std::uint8_t fill = 0xEE) {
    const std::int64_t row = (std::int64_t{w} * 3 + 3) / 4 * 4, size = 54 + row * h;
    Bytes b(static_cast<std::size_t>(size), fill);
    std::fill_n(b.begin(), 54, 0);
    b = with(std::move(b), {{MAGIC, 'B' | 'M' << 8}, {SIZE, size}, {OFFSET, 54}, {HEADER, 40}});
    b = with(std::move(b), {{WIDTH, w}, {HEIGHT, h}, {PLANES, 1}, {BITS, 24}});
    b = with(std::move(b), {{X_RES, 2835}, {Y_RES, 2835}});
    for (std::int32_t x = 0; x < w; ++x)
        for (std::int32_t y = 0; y < h; ++y) {
            std::uint8_t* p = &b[54 + row * y + 3 * x];
            p[0] = static_cast<std::uint8_t>(x), p[1] = static_cast<std::uint8_t>(y), p[2] = 200;
        }
    return b;
}

// The record a make_bmp file must read as: pixel (x, y) is R = 200, G = y, B = x.
Image numbered(std::int32_t w, std::int32_t h) {
    Image image;
    EXPECT_EQ(alloc_image(w, h, 3, image), 1);
    for (std::int32_t x = 0; x < w; ++x)
        for (std::int32_t y = 0; y < h; ++y) {
            std::uint8_t* p = &image.pixels[(static_cast<std::size_t>(y) * w + x) * 3];
            p[0] = 200, p[1] = static_cast<std::uint8_t>(y), p[2] = static_cast<std::uint8_t>(x);
        }
    return image;
}

// Everything a record holds, to compare whole records at once.
auto record(const Image& i) {
    const std::uint8_t* p = i.pixels.get();
    return std::tuple(i.width, i.height, i.channels, p != nullptr,
                      Bytes(p, p + std::size_t(i.width) * i.height * i.channels));
}

Bytes load(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Files of one test, in a folder of its own that is removed afterwards.
class ImageFiles : public ::testing::Test {
  protected:
    void SetUp() override { std::filesystem::create_directories(dir_); }
    void TearDown() override { std::filesystem::remove_all(dir_); }
    std::filesystem::path path(const char* name) const { return dir_ / name; }

    // Reads the bytes through a file and from memory; the two ways must agree.
    int read_both(const Bytes& bytes, Image& image) {
        std::ofstream(path("in.bmp"), std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
        Image fromMemory = numbered(1, 1);  // a refusal must empty this too
        const int result = read_bmp(path("in.bmp").c_str(), image);
        EXPECT_EQ(decode_bmp(bytes.data(), bytes.size(), fromMemory), result);
        EXPECT_EQ(record(fromMemory), record(image)) << "decode_bmp and read_bmp disagree";
        return result;
    }

    const std::filesystem::path dir_ =
        ::testing::TempDir() + "marovel_image_" +
        ::testing::UnitTest::GetInstance()->current_test_info()->name();
};

TEST_F(ImageFiles, WrittenFilesFollowTheFormatAndReadBackUnchanged) {
    // 3 pixels need 3 fill bytes a row, 4 need none; 6144 fill the row buffer
    // exactly; zero-width rows hold no bytes, however many there are.
    for (auto [w, h] : {std::pair{3, 2}, {4, 2}, {5, 3}, {1, 1}, {6144, 2}, {7, 0}, {0, MAX}}) {
        const Image image = numbered(w, h);
        ASSERT_EQ(write_bmp(path("out.bmp").c_str(), image), 1) << w << "x" << h;
        // Header, size field, bottom row first, B G R order, zero fill: the whole file.
        EXPECT_EQ(load(path("out.bmp")), make_bmp(w, h, 0)) << w << "x" << h;
        Image back;
        ASSERT_EQ(read_both(make_bmp(w, h), back), 1) << w << "x" << h;
        EXPECT_EQ(record(back), record(image)) << w << "x" << h;
    }
}

TEST_F(ImageFiles, WriterRefusesRecordsItCannotStoreAndFilesItCannotFinish) {
    Image rgba = numbered(2, 2), hollow, wide = numbered(6145, 1);  // wide: past the row buffer
    ASSERT_EQ(rgb_to_rgba(rgba), 1);
    hollow.width = hollow.height = 2, hollow.channels = 3;  // sizes without pixels
    for (const Image* bad : {&rgba, &hollow, &wide})
        EXPECT_FALSE(write_bmp(path("bad.bmp").c_str(), *bad) || exists(path("bad.bmp")));
    // Every write to /dev/full (Linux) fails for want of space, at the latest when closing.
    EXPECT_EQ(write_bmp("/dev/full", numbered(3, 2)), 0);
}

TEST_F(ImageFiles, OnlyExactPureRedBecomesTransparent) {
    // Stored B, G, R: the key (red), red 254, green 1, pure blue (the key's bytes
    // in file order), black.
    Bytes file = make_bmp(5, 1);
    std::ranges::copy(Bytes{0, 0, 255, 0, 0, 254, 0, 1, 255, 255, 0, 0, 0, 0, 0}, &file[54]);
    Image image;
    ASSERT_EQ(read_both(file, image), 1);
    ASSERT_EQ(rgb_to_rgba(image), 1);
    const Bytes rgba = {255, 0, 0, 0, 254, 0, 0, 255, 255, 1, 0, 255, 0, 0, 255, 255, 0, 0, 0, 255};
    EXPECT_EQ(record(image), std::tuple(5, 1, 4, true, rgba));
    EXPECT_EQ(rgb_to_rgba(image), 0);  // already four channels: nothing to convert
}

// Every file the format refuses or no picture can be, and every variant it accepts.
// A refusal must leave the record empty, whatever it held before.
TEST_F(ImageFiles, ReaderRefusesBadFilesAndAcceptsEveryAllowedVariant) {
    const Bytes good = make_bmp(3, 4);  // rows of 9 bytes + 3 fill
    struct Case {
        std::string what;
        Bytes bytes;
        std::int32_t w = -1, h = -1;  // the picture read; -1: refused
    };
    std::vector<Case> cases = {
        {"empty file", {}},
        {"header cut short", Bytes(good.begin(), good.begin() + 53)},
        {"magic MB", with(good, {{MAGIC, 'M' | 'B' << 8}})},
        {"magic BA", with(good, {{MAGIC, 'B' | 'A' << 8}})},
        {"8 bits per pixel", with(good, {{BITS, 8}})},
        {"16 bits per pixel", with(good, {{BITS, 16}})},
        {"23 bits per pixel", with(good, {{BITS, 23}})},
        {"32 bits per pixel", with(good, {{BITS, 32}})},
        {"-24 bits per pixel", with(good, {{BITS, -24}})},
        {"run-length compression 1", with(good, {{COMPRESSION, 1}})},
        {"run-length compression 2", with(good, {{COMPRESSION, 2}})},
        {"bit-field compression 3", with(good, {{COMPRESSION, 3}})},
        {"negative width", with(good, {{WIDTH, -3}})},
        {"negative height (top-down rows)", with(good, {{HEIGHT, -4}})},
        {"most negative height", with(good, {{HEIGHT, std::numeric_limits<std::int32_t>::min()}})},
        {"width x height x 3 beyond 32 bits", with(good, {{WIDTH, 1}, {HEIGHT, MAX}})},
        {"sizes beyond even 64 bits", with(good, {{WIDTH, 0x6F000000}, {HEIGHT, MAX}})},
        // 3 * 4096 * 0x55556 = 2^32 + 8192: a product that wraps to a small number.
        {"width x height x 3 wraps", with(good, {{WIDTH, 4096}, {HEIGHT, 0x55556}})},
        {"one whole row missing", Bytes(good.begin(), good.end() - 12)},
        {"last row's pixel bytes cut", Bytes(good.begin(), good.end() - 4)},
        {"rows claimed but none stored", Bytes(good.begin(), good.begin() + 54)},
        // 6145 pixels need 18436 bytes a row: over the row buffer, though the file is complete.
        {"row wider than the row buffer", make_bmp(6145, 1)},
        {"rows from byte 54 whatever the offset, header size and size fields say",
         with(good, {{OFFSET, 138}, {HEADER, 124}, {SIZE, 7}}), 3, 4},
        {"last row without its fill", Bytes(good.begin(), good.end() - 3), 3, 4},
        {"a fifth row after the last", with(make_bmp(3, 5), {{HEIGHT, 4}}), 3, 4},
        {"height 0", with(good, {{HEIGHT, 0}}), 3, 0},
        {"width 0, largest height", with(good, {{WIDTH, 0}, {HEIGHT, MAX}}), 0, MAX},
    };
    for (std::int64_t bits = 25; bits <= 31; ++bits)  // 24 is in every other case
        cases.push_back({std::to_string(bits) + " bits", with(good, {{BITS, bits}}), 3, 4});
    for (const Case& c : cases) {
        Image image = numbered(2, 2);
        EXPECT_EQ(read_both(c.bytes, image), c.w < 0 ? 0 : 1) << c.what;
        EXPECT_EQ(record(image), record(c.w < 0 ? Image{} : numbered(c.w, c.h))) << c.what;
    }
    Image image = numbered(2, 2);
    EXPECT_EQ(read_bmp(path("absent.bmp").c_str(), image), 0);
    EXPECT_EQ(record(image), record(Image{}));
}

const std::string DATA = std::string(MAROVEL_DATA_DIR) + "/";

// Pixel (x, y), row 0 at the bottom, packed as 0xRRGGBB.
std::uint32_t at(const Image& image, int x, int y) {
    const std::uint8_t* p = &image.pixels[(static_cast<std::size_t>(y) * image.width + x) * 3];
    return p[0] << 16 | p[1] << 8 | p[2];
}
constexpr std::uint32_t KEY = 0xFF0000;  // pure red: transparent once loaded

TEST_F(ImageFiles, PictureMakerRedrawsTheCommittedPicturesAsTexturesOpenGlTakes) {
    const std::string command =
        std::string("\"") + MAKE_PICTURES_PATH + "\" \"" + dir_.string() + "\"";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
    for (const char* name : {"map.bmp", "car.bmp", "storm.bmp"}) {
        const Bytes committed = load(DATA + name);
        EXPECT_TRUE(!committed.empty() && load(path(name)) == committed)
            << name << " differs from data/; rerun make_pictures data";
        // OpenGL 1.1 takes only sides that are powers of two; the map must stay
        // sharp when the town is zoomed in.
        Image image;
        ASSERT_EQ(read_bmp((DATA + name).c_str(), image), 1) << name;
        EXPECT_TRUE(std::has_single_bit(unsigned(image.width)) &&
                    std::has_single_bit(unsigned(image.height)) &&
                    image.width >= (name == std::string("map.bmp") ? 1024 : 1))
            << name;
    }
}

TEST(Pictures, CarFrameKShowsExactlyTheCarsOfItsHeadingBitsOnKeyColour) {
    // Frame k's pixel must be that of the one single-heading frame (1, 2, 4, 8)
    // of k's bits that has a car there, else key colour; so must every pixel
    // outside frames 1..15. A frame's outermost ring stays key colour, so that
    // linear filtering never shows a neighbouring frame.
    Image sheet;
    constexpr int FRAME = 20;
    ASSERT_EQ(read_bmp((DATA + "car.bmp").c_str(), sheet), 1);
    ASSERT_TRUE(sheet.width >= 16 * FRAME && sheet.height >= FRAME);
    for (int y = 0; y < sheet.height; ++y)
        for (int x = 0; x < sheet.width; ++x) {
            const int k = x / FRAME, fx = x % FRAME;
            std::uint32_t expected = KEY;
            if (k >= 1 && k < 16 && y < FRAME) {
                int covering = 0;
                for (int bit : {DIR_Y_DEC, DIR_X_DEC, DIR_Y_INC, DIR_X_INC}) {
                    const std::uint32_t single = at(sheet, bit * FRAME + fx, y);
                    covering += single != KEY;
                    if (single != KEY && (k & bit)) expected = single;
                }
                ASSERT_LE(covering, 1) << "single-heading cars overlap at " << fx << "," << y;
                const bool ring = fx == 0 || fx == FRAME - 1 || y == 0 || y == FRAME - 1;
                ASSERT_TRUE(!ring || expected == KEY) << fx << "," << y;
            }
            ASSERT_EQ(at(sheet, x, y), expected) << "frame " << k << " at " << fx << "," << y;
        }
}

}  // namespace
