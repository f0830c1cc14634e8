#include "render/bmp.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <limits>
#include <new>
#include <utility>

namespace {

constexpr int BMP_HEADER_BYTES = 54;            // 14-byte file header + 40-byte information header
constexpr std::uint16_t BMP_MAGIC = 19778;      // "BM" read little-endian
constexpr std::uint32_t BMP_RESOLUTION = 2835;  // pixels per metre, i.e. 72 dots per inch

std::uint16_t get_u16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

std::uint32_t get_u32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

// Two's complement reinterpretation; well defined since C++20.
std::int32_t get_i32(const std::uint8_t* p) {
    return static_cast<std::int32_t>(get_u32(p));
}
std::int16_t get_i16(const std::uint8_t* p) {
    return static_cast<std::int16_t>(get_u16(p));
}

void put_u16(std::uint8_t* p, std::uint16_t v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}

void put_u32(std::uint8_t* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

// Bytes of a width x height x channels buffer, or -1 when a size is negative or
// the product does not fit 32-bit signed. Formed in two steps so that not even
// the 64-bit intermediate can overflow.
std::int64_t buffer_bytes(std::int32_t width, std::int32_t height, std::int32_t channels) {
    constexpr std::int64_t limit = std::numeric_limits<std::int32_t>::max();
    if (width < 0 || height < 0 || channels < 0) return -1;
    const std::int64_t pixels = std::int64_t{width} * height;
    if (pixels > limit) return -1;
    const std::int64_t bytes = pixels * channels;
    return bytes > limit ? -1 : bytes;
}

// Bytes of one stored row: three per pixel, filled up to a multiple of 4.
std::int64_t padded_row(std::int32_t width) {
    const std::int64_t data = std::int64_t{width} * 3;
    return (data + 3) / 4 * 4;
}

// A picture without pixels costs nothing whatever its other side; one with
// pixels must fit a texture.
bool fits_texture(std::int32_t width, std::int32_t height) {
    return width == 0 || height == 0 || (width <= BMP_MAX_SIDE && height <= BMP_MAX_SIDE);
}

// What the header promises, once it has passed every check.
struct RowPlan {
    std::int32_t width;
    std::int32_t height;
    std::int64_t paddedRow;  // stored bytes per row, fill included; at most BMP_ROW_BUFFER
    std::int64_t needBytes;  // shortest file that holds every row's pixel bytes
};

// Checks the 54 header bytes. Refuses what the format rules refuse (magic,
// bits per pixel other than 24..31, any compression) and, so that nothing
// later can overflow or run past a buffer, what no picture can be: a negative
// size, a pixel buffer beyond 32-bit signed, or a row too wide for the row buffer.
// Fields the reader ignores (file size, offset, header size, ...) are not looked at:
// the rows are always taken from byte 54.
int plan_rows(const std::uint8_t* header, RowPlan& plan) {
    if (get_u16(header + 0) != BMP_MAGIC) return 0;
    const std::int32_t width = get_i32(header + 18);
    const std::int32_t height = get_i32(header + 22);
    const int channels = get_i16(header + 28) / 8;  // truncates toward zero: 24..31 give 3
    if (channels != 3) return 0;
    if (get_u32(header + 30) != 0) return 0;  // compression: only uncompressed rows

    // Negative sizes (top-down or mirrored pictures) are refused: nothing this
    // program reads is stored that way, and every later size stays non-negative.
    if (buffer_bytes(width, height, 3) < 0) return 0;
    const std::int64_t row = padded_row(width);
    if (row > BMP_ROW_BUFFER) return 0;
    if (!fits_texture(width, height)) return 0;

    plan.width = width;
    plan.height = height;
    plan.paddedRow = row;
    // The last row's fill bytes may be missing (some writers drop them); its
    // pixel bytes may not. A picture without pixels needs nothing past the header.
    plan.needBytes = BMP_HEADER_BYTES;
    if (width > 0 && height > 0) plan.needBytes += row * (height - 1) + std::int64_t{width} * 3;
    return 1;
}

// One stored row (B, G, R per pixel) into one record row (R, G, B).
void unpack_row(const std::uint8_t* stored, std::int32_t width, std::uint8_t* out) {
    for (std::int32_t x = 0; x < width; ++x) {
        out[3 * x + 0] = stored[3 * x + 2];
        out[3 * x + 1] = stored[3 * x + 1];
        out[3 * x + 2] = stored[3 * x + 0];
    }
}

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using FileHandle = std::unique_ptr<std::FILE, FileCloser>;

// Opens a regular file for reading, and nothing else: the open itself does not
// wait (a FIFO without a writer would block it for ever), and anything that is
// not a regular file is closed again. Its length in `length`.
FileHandle open_regular_file(const char* path, std::int64_t& length) {
    const int fd = ::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return nullptr;
    struct stat st = {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return nullptr;
    }
    length = st.st_size;
    FileHandle file(::fdopen(fd, "rb"));
    if (!file) ::close(fd);
    return file;
}

}  // namespace

int alloc_image(std::int32_t width, std::int32_t height, std::int32_t channels, Image& image) {
    free_image(image);
    const std::int64_t bytes = buffer_bytes(width, height, channels);
    if (bytes < 0) return 0;
    // A picture without pixels still gets a (zero-length) buffer, so a record
    // that was filled can always be told from an empty one.
    image.pixels.reset(new (std::nothrow) std::uint8_t[static_cast<std::size_t>(bytes)]());
    if (!image.pixels) return 0;
    image.width = width;
    image.height = height;
    image.channels = channels;
    return 1;
}

void free_image(Image& image) {
    image.pixels.reset();
    image.width = 0;
    image.height = 0;
    image.channels = 0;
}

// A file that ends before the last row's pixel bytes is refused, and its
// length is checked before the pixel buffer is allocated, so a small file can
// never make the reader allocate a large buffer.
int decode_bmp(const std::uint8_t* data, std::size_t size, Image& image) {
    free_image(image);
    if (data == nullptr || size < BMP_HEADER_BYTES) return 0;
    RowPlan plan{};
    if (!plan_rows(data, plan)) return 0;
    if (static_cast<std::uint64_t>(plan.needBytes) > size) return 0;

    Image picture;
    if (!alloc_image(plan.width, plan.height, 3, picture)) return 0;
    if (plan.width > 0) {
        const std::uint8_t* stored = data + BMP_HEADER_BYTES;
        const std::size_t recordRow = static_cast<std::size_t>(plan.width) * 3;
        for (std::int32_t y = 0; y < plan.height; ++y)
            unpack_row(stored + static_cast<std::size_t>(plan.paddedRow) * y, plan.width,
                       picture.pixels.get() + recordRow * y);
    }
    image = std::move(picture);
    return 1;
}

// Same rules as decode_bmp, streaming the rows through the row buffer: the
// file's length is asked for before the pixel buffer is allocated, and every
// read's byte count is checked (in case the file shrinks while it is read).
int read_bmp(const char* path, Image& image) {
    free_image(image);
    if (path == nullptr) return 0;
    std::int64_t length = 0;
    FileHandle file = open_regular_file(path, length);
    if (!file) return 0;

    std::uint8_t header[BMP_HEADER_BYTES];
    if (std::fread(header, 1, sizeof header, file.get()) != sizeof header) return 0;
    RowPlan plan{};
    if (!plan_rows(header, plan)) return 0;
    if (plan.needBytes > length) return 0;

    Image picture;
    if (!alloc_image(plan.width, plan.height, 3, picture)) return 0;
    if (plan.width > 0) {
        std::uint8_t row[BMP_ROW_BUFFER];
        const std::size_t recordRow = static_cast<std::size_t>(plan.width) * 3;
        for (std::int32_t y = 0; y < plan.height; ++y) {
            // The last row's fill need not be there.
            const std::size_t want =
                y + 1 < plan.height ? static_cast<std::size_t>(plan.paddedRow) : recordRow;
            if (std::fread(row, 1, want, file.get()) != want) return 0;
            unpack_row(row, plan.width, picture.pixels.get() + recordRow * y);
        }
    }
    image = std::move(picture);
    return 1;
}

// Refuses (0, no file touched) records it cannot write faithfully: not three
// channels, a negative size, no pixels behind a non-empty size, a row wider
// than the row buffer (the reader would refuse it), or a file too long for the
// 32-bit size field.
int write_bmp(const char* path, const Image& image) {
    if (path == nullptr || image.channels != 3) return 0;
    const std::int64_t pixelBytes = buffer_bytes(image.width, image.height, 3);
    if (pixelBytes < 0 || (pixelBytes > 0 && !image.pixels)) return 0;
    const std::int64_t row = padded_row(image.width);
    if (row > BMP_ROW_BUFFER || !fits_texture(image.width, image.height)) return 0;
    const std::int64_t fileSize = BMP_HEADER_BYTES + row * image.height;
    if (fileSize > std::numeric_limits<std::uint32_t>::max()) return 0;

    std::uint8_t header[BMP_HEADER_BYTES] = {};
    put_u16(header + 0, BMP_MAGIC);
    put_u32(header + 2, static_cast<std::uint32_t>(fileSize));
    put_u32(header + 10, BMP_HEADER_BYTES);  // pixel rows follow the headers
    put_u32(header + 14, 40);                // information header size
    put_u32(header + 18, static_cast<std::uint32_t>(image.width));
    put_u32(header + 22, static_cast<std::uint32_t>(image.height));
    put_u16(header + 26, 1);   // colour planes
    put_u16(header + 28, 24);  // bits per pixel
    put_u32(header + 38, BMP_RESOLUTION);
    put_u32(header + 42, BMP_RESOLUTION);
    // Reserved fields, compression, image size and colour counts stay 0.

    std::FILE* file = std::fopen(path, "wb");
    if (file == nullptr) return 0;
    bool ok = std::fwrite(header, 1, sizeof header, file) == sizeof header;

    std::uint8_t buffer[BMP_ROW_BUFFER] = {};  // fill bytes stay 0
    const std::size_t recordRow = static_cast<std::size_t>(image.width) * 3;
    // Rows of zero width hold no bytes: nothing to write, however many there are.
    const std::int32_t rows = image.width > 0 ? image.height : 0;
    for (std::int32_t y = 0; ok && y < rows; ++y) {
        const std::uint8_t* src = image.pixels.get() + recordRow * y;
        for (std::int32_t x = 0; x < image.width; ++x) {
            buffer[3 * x + 0] = src[3 * x + 2];
            buffer[3 * x + 1] = src[3 * x + 1];
            buffer[3 * x + 2] = src[3 * x + 0];
        }
        const auto want = static_cast<std::size_t>(row);
        ok = std::fwrite(buffer, 1, want, file) == want;
    }
    // Buffered bytes reach the disk only at close, so its result counts too.
    const bool closed = std::fclose(file) == 0;
    return ok && closed ? 1 : 0;
}

int rgb_to_rgba(Image& image) {
    if (image.channels != 3 || image.width < 0 || image.height < 0) return 0;
    const std::int64_t count = std::int64_t{image.width} * image.height;
    if (count > 0 && !image.pixels) return 0;
    Image rgba;
    if (!alloc_image(image.width, image.height, 4, rgba)) return 0;
    const std::uint8_t* src = image.pixels.get();
    std::uint8_t* dst = rgba.pixels.get();
    for (std::int64_t i = 0; i < count; ++i) {
        const std::uint8_t r = src[3 * i], g = src[3 * i + 1], b = src[3 * i + 2];
        dst[4 * i + 0] = r;
        dst[4 * i + 1] = g;
        dst[4 * i + 2] = b;
        dst[4 * i + 3] = (r == 255 && g == 0 && b == 0) ? 0 : 255;  // pure red is see-through
    }
    image = std::move(rgba);
    return 1;
}
