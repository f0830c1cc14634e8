// Feeds arbitrary bytes to the BMP reader, through a file (read_bmp streams the
// rows through its row buffer) and from memory (decode_bmp): the two must agree,
// and a refusal must leave the record empty. Crashes, leaks, overflows and
// undefined behaviour are the sanitizers' part; what a well-formed file reads as
// is the unit tests' part.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "render/bmp.h"

namespace {

bool same(const Image& a, const Image& b) {
    if (a.width != b.width || a.height != b.height || a.channels != b.channels) return false;
    if ((a.pixels == nullptr) != (b.pixels == nullptr)) return false;
    const std::size_t n = static_cast<std::size_t>(a.width) * a.height * a.channels;
    return n == 0 || std::memcmp(a.pixels.get(), b.pixels.get(), n) == 0;
}

// One scratch file per fuzzing process, in memory when /dev/shm exists: a disk
// file costs more time per input than the reader itself. Removed when the fuzzer
// exits normally; a crash leaves it for inspection.
const std::string& scratch() {
    static const std::string path =
        std::string(access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp") + "/marovel_fuzz_" +
        std::to_string(getpid()) + ".bmp";
    return path;
}

void remove_scratch() {
    std::remove(scratch().c_str());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // The path first, so that it outlives the clean-up registered after it.
    static const bool cleanup = (scratch(), std::atexit(remove_scratch) == 0);
    std::FILE* f = std::fopen(scratch().c_str(), "wb");
    if (!cleanup || f == nullptr) std::abort();
    const bool saved = std::fwrite(data, 1, size, f) == size;
    if (std::fclose(f) != 0 || !saved) std::abort();

    Image fromFile, fromMemory;
    const int read = read_bmp(scratch().c_str(), fromFile);
    const int decoded = decode_bmp(data, size, fromMemory);
    const bool sound =
        read == 1 ? fromFile.channels == 3 && fromFile.pixels != nullptr : same(fromFile, Image{});
    if (read != decoded || !sound || !same(fromFile, fromMemory)) std::abort();
    return 0;
}
