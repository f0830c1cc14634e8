// Feeds arbitrary bytes to the BMP reader, from memory and through a file, and
// checks what every successful read promises: the two ways agree, the record
// is consistent, and writing it out and reading it back gives it unchanged.
// Any refusal must leave the record empty. Crashes, leaks and undefined
// behaviour are the sanitizers' part.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "render/bmp.h"

namespace {

void check(bool ok) {
    if (!ok) std::abort();
}

bool empty(const Image& image) {
    return image.width == 0 && image.height == 0 && image.channels == 0 && !image.pixels;
}

bool same(const Image& a, const Image& b) {
    if (a.width != b.width || a.height != b.height || a.channels != b.channels) return false;
    const std::size_t n = static_cast<std::size_t>(a.width) * a.height * a.channels;
    return n == 0 || std::memcmp(a.pixels.get(), b.pixels.get(), n) == 0;
}

// Scratch files, one pair per fuzzing process, in memory when /dev/shm exists:
// a disk folder costs more time per input than the reader itself. Removed when
// the fuzzer exits normally; a crash leaves them for inspection.
std::string scratch(const char* name) {
    const char* dir = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    return std::string(dir) + "/marovel_fuzz_" + std::to_string(getpid()) + "_" + name;
}

const std::string& scratch_in() {
    static const std::string path = scratch("in.bmp");
    return path;
}

const std::string& scratch_out() {
    static const std::string path = scratch("out.bmp");
    return path;
}

void remove_scratch() {
    std::remove(scratch_in().c_str());
    std::remove(scratch_out().c_str());
}

bool save(const std::string& path, const std::uint8_t* data, std::size_t size) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) return false;
    const bool ok = std::fwrite(data, 1, size, f) == size;
    return std::fclose(f) == 0 && ok;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Image fromMemory;
    const int decoded = decode_bmp(data, size, fromMemory);
    check(decoded == 1 || empty(fromMemory));

    // The paths first, so that they outlive the clean-up registered after them.
    const std::string& in = scratch_in();
    static const bool cleanup = (scratch_out(), std::atexit(remove_scratch) == 0);
    check(cleanup);
    check(save(in, data, size));
    Image fromFile;
    const int read = read_bmp(in.c_str(), fromFile);
    check(read == decoded);
    check(read == 1 || empty(fromFile));
    if (read == 0) return 0;

    check(fromFile.channels == 3 && fromFile.width >= 0 && fromFile.height >= 0);
    check(fromFile.pixels != nullptr);
    check(same(fromFile, fromMemory));

    // What was read can be written and read back unchanged.
    const std::string& out = scratch_out();
    check(write_bmp(out.c_str(), fromFile) == 1);
    Image again;
    check(read_bmp(out.c_str(), again) == 1);
    check(same(again, fromFile));

    check(rgb_to_rgba(fromFile) == 1);
    check(fromFile.channels == 4);
    return 0;
}
