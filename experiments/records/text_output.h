// A text output file of a sweep, written whole or not at all (OutputFile) and
// compressed with gzip when its name ends in ".gz". The compressed bytes
// depend only on the text, not on how it was handed over, so a file made in
// one go and one made from pieces are the same bytes.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "experiments/records/output_file.h"

bool is_gzip_name(std::string_view path);

class TextOutput {
  public:
    TextOutput();
    ~TextOutput();
    TextOutput(const TextOutput&) = delete;
    TextOutput& operator=(const TextOutput&) = delete;

    // As OutputFile::create. An empty path makes an output that drops everything.
    bool create(const std::string& path, std::string& error, bool keepStale = false);
    void write(std::string_view text);
    // OutputFile::flush. A compressed file hands over only what the compressor
    // has emitted: flushing the compressor would change the file's bytes.
    void flush();
    bool commit(std::string& error);  // as OutputFile::commit; true for an empty path
    // Ends the compressed stream, so that the file can be committed with
    // others (commit_together on file()); false, the file discarded, on failure.
    bool finish_text(std::string& error);
    // The file, for commit_together; null for an empty path.
    OutputFile* file() { return file_.path().empty() ? nullptr : &file_; }
    const std::string& path() const { return file_.path(); }
    const std::string& temp_path() const { return file_.temp_path(); }

  private:
    struct Deflater;
    OutputFile file_;
    std::unique_ptr<Deflater> deflater_;
};
