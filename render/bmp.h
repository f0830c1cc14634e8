// Pictures in memory, and the uncompressed 24-bit BMP files they come from.
//
// Rows are kept bottom-up, as the file stores them (row 0 is the bottom row,
// which is texture coordinate t = 0), tightly packed, bytes R, G, B (and A).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

struct Image {
    std::int32_t width = 0;                  // pixels per row
    std::int32_t height = 0;                 // rows
    std::int32_t channels = 0;               // 3 after reading, 4 after rgb_to_rgba
    std::unique_ptr<std::uint8_t[]> pixels;  // width * height * channels bytes; null when empty
};

// Widest stored row (with its fill to a multiple of 4 bytes) that a picture may have:
// 6144 pixels of three bytes.
constexpr int BMP_ROW_BUFFER = 18432;

// Longest side a picture with pixels may have: the largest texture side that
// common OpenGL implementations take. A taller picture could never be shown,
// so it is refused from its header, before any pixel is read or allocated.
constexpr int BMP_MAX_SIDE = 16384;

// Sets the sizes and a new zero-filled buffer (zero-length, but not null, when a
// size is 0), releasing any buffer the record held. Returns 0, leaving the record
// empty, when a size is negative, width * height * channels does not fit 32-bit
// signed, or the buffer cannot be allocated; 1 otherwise.
int alloc_image(std::int32_t width, std::int32_t height, std::int32_t channels, Image& image);

// Releases the buffer and zeroes the sizes.
void free_image(Image& image);

// Reads a 24-bit uncompressed BMP file. 1 when read (channels 3), 0 when refused;
// a refused record is left empty (whatever it held before is released).
// Accepted: magic "BM", bits per pixel 24..31, compression 0, any header length
// and offset field (the rows are always taken from byte 54), zero width or height.
// Refused besides: a missing or unreadable file, anything but a regular file
// (a FIFO or a device is never opened for a blocking read), a file shorter than
// its 54-byte header, a negative width or height, width * height * 3 beyond
// 32-bit signed, a picture with pixels taller or wider than BMP_MAX_SIDE, a
// stored row wider than BMP_ROW_BUFFER, a file that ends before the last row's
// pixel bytes (only that row's fill may be missing), a failed allocation.
// The rows are streamed through a row buffer; the file's length is checked
// before the pixel buffer is allocated.
int read_bmp(const char* path, Image& image);

// The same rules applied to a file's bytes already in memory.
int decode_bmp(const std::uint8_t* data, std::size_t size, Image& image);

// Writes a three-channel record as a 24-bit BMP file (fill bytes 0). 1 when the
// whole file was written and closed, 0 otherwise. Records it could not write so
// that read_bmp takes them back (channels other than 3, rows wider than
// BMP_ROW_BUFFER, sides beyond BMP_MAX_SIDE, negative sizes, missing pixels) are refused before the
// file is opened; a failure after opening may leave a partial file.
int write_bmp(const char* path, const Image& image);

// Adds alpha to a three-channel record: 0 for pure red (255, 0, 0), the key
// colour of transparent parts, 255 for everything else.
// 1 when converted; 0, leaving the record as it was, when it does not hold three
// channels or the new buffer cannot be allocated.
int rgb_to_rgba(Image& image);
