// Hand-made BMP files for the image tests, built field by field here rather than
// by write_bmp, so that reader and writer are each checked against the format.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "render/bmp.h"

namespace bmp_test {

using Bytes = std::vector<std::uint8_t>;

inline void put16(Bytes& b, std::size_t at, std::uint32_t v) {
    b[at] = static_cast<std::uint8_t>(v);
    b[at + 1] = static_cast<std::uint8_t>(v >> 8);
}

inline void put32(Bytes& b, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

inline std::uint32_t get32(const Bytes& b, std::size_t at) {
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) |
           (static_cast<std::uint32_t>(b[at + 3]) << 24);
}

// A 24-bit file of width x height whose stored pixel (x, y) is B = x, G = y,
// R = 200 and whose fill bytes are 0xEE (readers must ignore them).
inline Bytes make_bmp(std::int32_t width, std::int32_t height) {
    const std::size_t row = (static_cast<std::size_t>(width) * 3 + 3) / 4 * 4;
    Bytes b(54 + row * static_cast<std::size_t>(height), 0xEE);
    std::fill(b.begin(), b.begin() + 54, 0);
    b[0] = 'B';
    b[1] = 'M';
    put32(b, 2, static_cast<std::uint32_t>(b.size()));
    put32(b, 10, 54);
    put32(b, 14, 40);
    put32(b, 18, static_cast<std::uint32_t>(width));
    put32(b, 22, static_cast<std::uint32_t>(height));
    put16(b, 26, 1);
    put16(b, 28, 24);
    for (std::int32_t y = 0; y < height; ++y)
        for (std::int32_t x = 0; x < width; ++x) {
            const std::size_t at = 54 + row * static_cast<std::size_t>(y) + 3 * x;
            b[at] = static_cast<std::uint8_t>(x);
            b[at + 1] = static_cast<std::uint8_t>(y);
            b[at + 2] = 200;
        }
    return b;
}

// A private folder for files, removed at the end of the test.
class TempDir : public ::testing::Test {
  protected:
    void SetUp() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        dir_ = std::filesystem::temp_directory_path() /
               (std::string("marovel_image_") + info->test_suite_name() + "_" + info->name());
        std::filesystem::remove_all(dir_);
        std::filesystem::create_directories(dir_);
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }

    std::string path(const std::string& name) const { return (dir_ / name).string(); }

    std::string save(const Bytes& bytes) const {
        const std::string p = path("in.bmp");
        std::ofstream(p, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
        return p;
    }

    static Bytes load(const std::string& p) {
        std::ifstream in(p, std::ios::binary);
        return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

    // Reads the bytes both ways, from memory and from a file; the two must agree.
    int read_both(const Bytes& bytes, Image& image) {
        Image fromMemory;
        const int a = decode_bmp(bytes.data(), bytes.size(), fromMemory);
        const int b = read_bmp(save(bytes).c_str(), image);
        EXPECT_EQ(a, b) << "decode_bmp and read_bmp disagree";
        if (a == 1 && b == 1) {
            EXPECT_EQ(fromMemory.width, image.width);
            EXPECT_EQ(fromMemory.height, image.height);
            const std::size_t n = static_cast<std::size_t>(image.width) * image.height * 3;
            EXPECT_TRUE(n == 0 || std::equal(image.pixels.get(), image.pixels.get() + n,
                                             fromMemory.pixels.get()));
        }
        return b;
    }

    std::filesystem::path dir_;
};

inline bool is_empty(const Image& image) {
    return image.width == 0 && image.height == 0 && image.channels == 0 && !image.pixels;
}

}  // namespace bmp_test
