#include "experiments/records/text_output.h"

#include <zlib.h>

struct TextOutput::Deflater {
    z_stream stream = {};
    bool failed = false;
};

bool is_gzip_name(std::string_view path) {
    return path.size() > 3 && path.ends_with(".gz");
}

TextOutput::TextOutput() = default;

TextOutput::~TextOutput() {
    if (deflater_) deflateEnd(&deflater_->stream);
}

bool TextOutput::create(const std::string& path, std::string& error, bool keepStale) {
    if (path.empty()) return true;
    if (!file_.create(path, error, keepStale)) return false;
    if (is_gzip_name(path)) {
        deflater_ = std::make_unique<Deflater>();
        // windowBits 15 + 16: a gzip wrapper with no name and no time in it.
        if (deflateInit2(&deflater_->stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 15 + 16, 8,
                         Z_DEFAULT_STRATEGY) != Z_OK) {
            deflater_.reset();
            file_.discard();
            error = path + ": cannot start the compressor";
            return false;
        }
    }
    return true;
}

void TextOutput::write(std::string_view text) {
    if (file_.path().empty()) return;
    if (!deflater_) {
        file_.write(text);
        return;
    }
    z_stream& z = deflater_->stream;
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
    z.avail_in = static_cast<uInt>(text.size());
    unsigned char out[1 << 15];
    do {
        z.next_out = out;
        z.avail_out = sizeof out;
        if (deflate(&z, Z_NO_FLUSH) == Z_STREAM_ERROR) deflater_->failed = true;
        file_.write({reinterpret_cast<const char*>(out), sizeof out - z.avail_out});
    } while (z.avail_out == 0);
}

void TextOutput::flush() {
    if (!file_.path().empty()) file_.flush();
}

bool TextOutput::commit(std::string& error) {
    if (file_.path().empty()) return true;
    return finish_text(error) && file_.commit(error);
}

bool TextOutput::finish_text(std::string& error) {
    if (file_.path().empty()) return true;
    if (deflater_) {
        z_stream& z = deflater_->stream;
        unsigned char out[1 << 15];
        int status = Z_OK;
        do {
            z.next_out = out;
            z.avail_out = sizeof out;
            status = deflate(&z, Z_FINISH);
            file_.write({reinterpret_cast<const char*>(out), sizeof out - z.avail_out});
        } while (status == Z_OK);
        if (status != Z_STREAM_END || deflater_->failed) {
            file_.discard();
            error = file_.path() + ": compression failed";
            return false;
        }
        deflateEnd(&z);
        deflater_.reset();
    }
    return true;
}
