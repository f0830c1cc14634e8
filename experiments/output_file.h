// Output files that appear whole or not at all. Each is written to a hidden
// temporary file in the folder of its final name (so the rename stays on one
// file system) and renamed into place only when complete. Until then a
// failure, an exception or SIGINT/SIGTERM removes the temporary file, and a
// harder kill leaves only a ".name.XXXXXX.part" that no one mistakes for the
// result. An existing file of the final name stays as it was until the rename.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

class OutputFile {
  public:
    OutputFile() = default;
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;
    ~OutputFile();  // discards an uncommitted file

    // Creates the temporary file for `path`. On failure returns false and says
    // why in `error` (the path and the system's reason); nothing is left behind.
    bool create(const std::string& path, std::string& error);

    // Appends bytes; a failure is remembered and reported by commit.
    void write(std::string_view bytes);

    // Hands what was written so far to the system, so that a partial file
    // that a kill leaves behind holds it.
    void flush();

    // For writers that open the file themselves (images): the temporary path.
    const std::string& temp_path() const { return tempPath_; }
    const std::string& path() const { return path_; }

    // Closes and renames into place. False (the temporary file removed, the
    // reason in `error`) when any write or the rename failed.
    bool commit(std::string& error);

    // Removes the temporary file; harmless when there is none.
    void discard();

  private:
    std::string path_;
    std::string tempPath_;
    std::FILE* file_ = nullptr;
    int slot_ = -1;  // entry in the list the signal handler clears
    bool failed_ = false;
};

// Installs handlers for SIGINT and SIGTERM that remove every temporary file not
// yet committed and then end the process by the same signal.
void remove_partial_files_on_signal();
