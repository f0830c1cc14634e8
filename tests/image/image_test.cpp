// BMP files written and read, held against files built field by field here
// rather than by write_bmp, so that reader and writer are each checked against
// the format and not merely against each other; and the committed pictures: that
// the picture maker still draws them, and that they keep the promises the renderer
// relies on (texture sizes, the car sheet's frames, the key colour).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <bit>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <string>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

#include "render/bmp.h"
#include "sim/grid.h"

namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;
constexpr std::int32_t MAX = std::numeric_limits<std::int32_t>::max();
// Picture sizes written and read: 3, 4, 5 and 2 pixels need 3, 0, 1 and 2 fill bytes a
// row; 6144 fill the row buffer exactly; height 0 has no rows, and zero-width rows hold
// no bytes, however many.
constexpr std::pair<int, int> SIZES[] = {{3, 2},    {4, 2}, {5, 3},  {2, 1},
                                         {6144, 2}, {7, 0}, {0, MAX}};
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
// and fill bytes `fill`, which readers must ignore.
Bytes make_bmp(std::int32_t w, std::int32_t h, std::uint8_t fill = 0xEE) {
    const std::int64_t row = (std::int64_t{w} * 3 + 3) / 4 * 4, size = 54 + row * h;
    Bytes b = with(Bytes(54), {{MAGIC, 'B' | 'M' << 8}, {SIZE, size}, {OFFSET, 54}, {HEADER, 40}});
    b = with(std::move(b), {{WIDTH, w}, {HEIGHT, h}, {PLANES, 1}, {BITS, 24}});
    b = with(std::move(b), {{X_RES, 2835}, {Y_RES, 2835}});
    b.resize(static_cast<std::size_t>(size), fill);
    for (std::int64_t i = 0; i < std::int64_t{w} * h; ++i) {  // i = y * w + x
        std::uint8_t* p = &b[54 + row * (i / w) + 3 * (i % w)];
        p[0] = std::uint8_t(i % w), p[1] = std::uint8_t(i / w), p[2] = 200;
    }
    return b;
}

// The record a make_bmp file must read as: pixel (x, y) is R = 200, G = y, B = x.
Image numbered(std::int32_t w, std::int32_t h) {
    Image image;
    EXPECT_EQ(alloc_image(w, h, 3, image), 1);
    for (std::int64_t i = 0; i < std::int64_t{w} * h; ++i) {  // i = y * w + x
        std::uint8_t* p = &image.pixels[3 * i];
        p[0] = 200, p[1] = std::uint8_t(i / w), p[2] = std::uint8_t(i % w);
    }
    return image;
}

// Everything a record holds, to compare whole records at once.
auto record(const Image& i) {
    const std::uint8_t* p = i.pixels.get();
    return std::tuple(i.width, i.height, i.channels, p != nullptr,
                      Bytes(p, p + std::size_t(i.width) * i.height * i.channels));
}

Bytes load(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Files of one test, in a folder of its own that is removed afterwards.
class ImageFiles : public ::testing::Test {
  protected:
    void SetUp() override { std::filesystem::create_directories(dir_); }
    void TearDown() override { std::filesystem::remove_all(dir_); }

    // Reads the bytes through a file and from memory; the two ways must agree.
    int read_both(const Bytes& bytes, Image& image) {
        std::ofstream(dir_ / "in.bmp", std::ios::binary) << std::string(bytes.begin(), bytes.end());
        Image fromMemory = numbered(1, 1);  // a refusal must empty this too
        const int result = read_bmp((dir_ / "in.bmp").c_str(), image);
        EXPECT_EQ(decode_bmp(bytes.data(), bytes.size(), fromMemory), result);
        EXPECT_EQ(record(fromMemory), record(image)) << "decode_bmp and read_bmp disagree";
        return result;
    }

    const std::filesystem::path dir_ =
        ::testing::TempDir() + "marovel_image_" +
        ::testing::UnitTest::GetInstance()->current_test_info()->name() + "_" +
        std::to_string(getpid());
};

TEST_F(ImageFiles, WriterFollowsTheFormatRefusesWhatItCannotStoreAndKeyColourIsExact) {
    // Header, size field, bottom row first, B G R order, zero fill: the whole file.
    for (auto [w, h] : SIZES)
        EXPECT_TRUE(write_bmp((dir_ / "out.bmp").c_str(), numbered(w, h)) &&
                    load(dir_ / "out.bmp") == make_bmp(w, h, 0))
            << w << "x" << h;

    // Stored B, G, R: the key (red), red 254, green 1, pure blue (the key's bytes
    // in file order), blue 1. Only the first becomes transparent.
    Bytes file = make_bmp(5, 1);
    std::ranges::copy(Bytes{0, 0, 255, 0, 0, 254, 0, 1, 255, 255, 0, 0, 1, 0, 255}, &file[54]);
    Image rgba, hollow{2, 2, 3, nullptr}, wide = numbered(6145, 1);  // wide: past the row buffer
    ASSERT_EQ(read_both(file, rgba), 1);
    ASSERT_EQ(rgb_to_rgba(rgba), 1);
    const Bytes expected = {255, 0,   0, 0, 254, 0,   0,   255, 255, 1,
                            0,   255, 0, 0, 255, 255, 255, 0,   1,   255};
    EXPECT_EQ(record(rgba), std::tuple(5, 1, 4, true, expected));
    EXPECT_EQ(rgb_to_rgba(rgba), 0);  // already four channels: nothing to convert

    // Records the writer could not store so that they read back leave no file:
    // four channels, sizes without pixels, a row past the row buffer.
    for (const Image* bad : {&rgba, &hollow, &wide})
        EXPECT_FALSE(write_bmp((dir_ / "bad.bmp").c_str(), *bad) || exists(dir_ / "bad.bmp"));
    // Every write to /dev/full (Linux) fails for want of space, at the latest when closing.
    EXPECT_EQ(write_bmp("/dev/full", numbered(3, 2)), 0);
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
        {"header cut short", Bytes(good.begin(), good.begin() + 53)},
        {"magic MB", with(good, {{MAGIC, 'M' | 'B' << 8}})},
        {"magic BA", with(good, {{MAGIC, 'B' | 'A' << 8}})},
        // No pixels either way, so only the sign test itself can refuse these.
        {"negative width", with(good, {{WIDTH, -3}, {HEIGHT, 0}})},
        {"negative height (top-down rows)", with(good, {{WIDTH, 0}, {HEIGHT, -4}})},
        {"width x height x 3 beyond 32 bits", with(good, {{WIDTH, 1}, {HEIGHT, MAX}})},
        {"sizes beyond even 64 bits", with(good, {{WIDTH, 0x6F000000}, {HEIGHT, MAX}})},
        {"last row's pixel bytes cut", Bytes(good.begin(), good.end() - 4)},
        // 6145 pixels need 18436 bytes a row: over the row buffer, though the file is complete.
        {"row wider than the row buffer", make_bmp(6145, 1)},
        {"rows from byte 54 whatever the offset, header size and size fields say",
         with(good, {{OFFSET, 138}, {HEADER, 124}, {SIZE, 7}}), 3, 4},
        {"last row without its fill", Bytes(good.begin(), good.end() - 3), 3, 4},
    };
    // Bits per pixel 24 (in every other case) to 31 make three bytes a pixel; 32 is four.
    for (std::int64_t bits : {8, 16, 23, 25, 26, 27, 28, 29, 30, 31, 32})
        cases.push_back({std::to_string(bits) + " bits", with(good, {{BITS, bits}}),
                         bits > 23 && bits < 32 ? 3 : -1, 4});
    // 1 and 2 are run-length coded rows, 3 bit fields.
    for (std::int64_t c : {1, 2, 3})
        cases.push_back({"compression " + std::to_string(c), with(good, {{COMPRESSION, c}})});
    for (auto [w, h] : SIZES) cases.push_back({"a written picture", make_bmp(w, h), w, h});
    for (const Case& c : cases) {
        Image image = numbered(2, 2);
        EXPECT_EQ(read_both(c.bytes, image), c.w < 0 ? 0 : 1) << c.what;
        EXPECT_EQ(record(image), record(c.w < 0 ? Image{} : numbered(c.w, c.h))) << c.what;
    }
    Image image = numbered(2, 2);
    EXPECT_EQ(read_bmp((dir_ / "absent.bmp").c_str(), image), 0);
    EXPECT_EQ(record(image), record(Image{}));
    // 3 * 4096 * 0x55556 = 2^32 + 8192: a product that must not wrap to a small buffer.
    EXPECT_EQ(alloc_image(4096, 0x55556, 3, image), 0);
}

// Only regular files are read: a FIFO (no writer) or a device would block the
// open or feed the reader for ever. A picture no texture could hold is refused
// from its header, before the pixel buffer is allocated or a row is read, even
// when the file (sparse, 2.1 GB here) holds every row.
TEST_F(ImageFiles, ReaderOpensOnlyRegularFilesAndRefusesPicturesNoTextureHolds) {
    namespace fs = std::filesystem;
    const fs::path fifo = dir_ / "fifo.bmp";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    // If the reader blocks in the open, a writer that comes later releases it;
    // the writer's open itself never waits, so the test ends either way.
    std::atomic<bool> released{false};
    std::thread writer([&] {
        for (int i = 0; i < 40 && !released; ++i) std::this_thread::sleep_for(50ms);
        const int fd = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
        if (fd >= 0) {
            released = true;
            ::close(fd);
        }
    });
    Image image = numbered(2, 2);
    EXPECT_EQ(read_bmp(fifo.c_str(), image), 0);
    const bool blocked = released.exchange(true);
    writer.join();
    EXPECT_FALSE(blocked) << "the reader waited for a writer on the FIFO";
    EXPECT_EQ(record(image), record(Image{}));
    for (const char* other : {"/dev/zero", "/dev/null", "/"}) {
        image = numbered(2, 2);
        EXPECT_EQ(read_bmp(other, image), 0) << other;
    }

    // One row past the limit, in either direction that the row buffer allows.
    for (auto [w, h, accepted] :
         {std::tuple(1, BMP_MAX_SIDE, true), std::tuple(1, BMP_MAX_SIDE + 1, false),
          std::tuple(6144, 116000, false)}) {
        const Bytes head = make_bmp(w, 0);
        const Bytes header = with(head, {{HEIGHT, h}});
        const std::int64_t row = (std::int64_t{w} * 3 + 3) / 4 * 4;
        {
            std::ofstream out(dir_ / "tall.bmp", std::ios::binary);
            out << std::string(header.begin(), header.end());
        }
        fs::resize_file(dir_ / "tall.bmp", static_cast<std::uintmax_t>(54 + row * h));
        image = numbered(2, 2);
        EXPECT_EQ(read_bmp((dir_ / "tall.bmp").c_str(), image), accepted ? 1 : 0) << w << "x" << h;
        fs::remove(dir_ / "tall.bmp");
        EXPECT_EQ(record(image) == record(Image{}), !accepted);
        if (w == 1) {  // small enough to hold in memory too
            Bytes whole = header;
            whole.resize(static_cast<std::size_t>(54 + row * h));
            Image decoded;
            EXPECT_EQ(decode_bmp(whole.data(), whole.size(), decoded), accepted ? 1 : 0);
            // The writer refuses what the reader would.
            EXPECT_EQ(write_bmp((dir_ / "w.bmp").c_str(), numbered(w, h)), accepted ? 1 : 0);
        }
    }
}

// The committed pictures are the picture maker's output, with sides OpenGL 1.1 takes
// (powers of two; the map wide enough to stay sharp when the town is zoomed in). In
// the car sheet, frame k's pixel must be that of the one single-heading frame (1, 2,
// 4, 8) of k's bits that has a car there, else key colour; so must every pixel
// outside frames 1..15. A frame's outermost ring stays key colour, so that linear
// filtering never shows a neighbouring frame.
TEST_F(ImageFiles, PictureMakerRedrawsTheCommittedPicturesAndTheCarSheetKeepsItsFrames) {
    ASSERT_EQ(std::system(("\"" MAKE_PICTURES_PATH "\" \"" + dir_.string() + "\"").c_str()), 0);
    const std::string data = MAROVEL_DATA_DIR "/";
    Image sheet;  // the car sheet, the last one read
    for (const std::string name : {"map.bmp", "storm.bmp", "car.bmp"}) {
        EXPECT_TRUE(load(dir_ / name) == load(data + name)) << name << " differs from data/";
        ASSERT_EQ(read_bmp((data + name).c_str(), sheet), 1) << name;
        for (int side : {sheet.width, sheet.height})
            EXPECT_TRUE(std::has_single_bit(0u + side)) << name;
        EXPECT_GE(sheet.width, name == "map.bmp" ? 1024 : 1) << name;
    }
    constexpr int FRAME = 20, KEY = 0xFF0000;  // pure red: transparent once loaded
    auto at = [&sheet](int x, int y) {         // pixel (x, y), row 0 at the bottom, as 0xRRGGBB
        const std::uint8_t* p = &sheet.pixels[(static_cast<std::size_t>(y) * sheet.width + x) * 3];
        return p[0] << 16 | p[1] << 8 | p[2];
    };
    ASSERT_TRUE(sheet.width >= 16 * FRAME && sheet.height >= FRAME);
    for (int y = 0; y < sheet.height; ++y)
        for (int x = 0; x < sheet.width; ++x) {
            const int k = x / FRAME, fx = x % FRAME;
            int expected = KEY;
            if (k >= 1 && k < 16 && y < FRAME) {
                int covering = 0;
                for (int bit : {DIR_Y_DEC, DIR_X_DEC, DIR_Y_INC, DIR_X_INC}) {
                    const int single = at(bit * FRAME + fx, y);
                    covering += single != KEY;
                    if (single != KEY && (k & bit)) expected = single;
                }
                const bool ring = fx == 0 || fx == FRAME - 1 || y == 0 || y == FRAME - 1;
                ASSERT_LE(covering, ring ? 0 : 1)
                    << "cars overlap or touch the frame's edge at " << fx << "," << y;
            }
            ASSERT_EQ(at(x, y), expected) << "frame " << k << " at " << fx << "," << y;
        }
}

}  // namespace
