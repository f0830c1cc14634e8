// Output files that appear whole or not at all, like git's lock files. Each is
// written to a hidden temporary file in the folder of its final name (so the
// rename stays on one file system), flushed to the disk and renamed into place
// only when complete; a set of outputs is renamed together, after every one of
// them is complete. Until then a failure, an exception or a signal that ends
// the program removes the temporary files, and a harder kill leaves only a
// ".NAME.XXXXXX.part" that no one mistakes for the result and that the next
// run writing NAME removes. An existing file of the final name stays as it was
// until the rename.
//
// The name "-" means standard output: the bytes are kept in an unnamed
// temporary file and copied out at the commit.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

class OutputFile {
  public:
    OutputFile() = default;
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;
    ~OutputFile();  // discards an uncommitted file

    // Creates the temporary file for `path`, first removing the temporary files
    // that earlier runs killed outright left for the same name. Refuses a name
    // that is not, or would not be, a plain file: a folder, a device, a FIFO, a
    // socket or a symbolic link (renaming over it would replace the link or the
    // device node, not write to what it stands for). On failure returns false
    // and says why in `error` (the path and the reason); nothing is left behind.
    // With `keepStale`, the temporary files of earlier runs are left for the
    // caller (a resumed sweep reads them, then removes them).
    bool create(const std::string& path, std::string& error, bool keepStale = false);

    // Appends bytes; a failure is remembered and reported by commit with the
    // system's reason.
    void write(std::string_view bytes);

    // Hands what was written so far to the system, so that a partial file
    // that a kill leaves behind holds it.
    void flush();

    // For writers that open the file themselves (images): a path to the
    // temporary file.
    const std::string& temp_path() const { return tempPath_; }
    const std::string& path() const { return path_; }
    bool is_standard_output() const { return toStdout_; }

    // commit_together of this file alone.
    bool commit(std::string& error);

    // Removes the temporary file; harmless when there is none.
    void discard();

  private:
    friend bool commit_together(const std::vector<OutputFile*>& files, std::string& error);
    bool finish(std::string& error);  // flushes to the disk and closes; false on any failure
    bool copy_to_standard_output(std::string& error);
    void release();

    std::string path_;
    std::string tempPath_;
    std::FILE* file_ = nullptr;
    int lockFd_ = -1;     // holds the lock that tells a live temporary file from a stale one
    int slot_ = -1;       // entry in the list the signal handler clears
    int writeErrno_ = 0;  // the reason of the first failed write, 0 when none failed
    bool toStdout_ = false;
};

// Replaces every file of the set, or none. First every file is flushed to the
// disk and closed; if any of that fails, every temporary file is removed, no
// output is touched, and `error` names the file and the system's reason. Then
// the files are renamed into place one right after another; a signal arriving
// meanwhile takes effect after the last rename. Standard output is written
// last. When a rename fails (rare: the folder changed under the run) `error`
// says which outputs were replaced and which were left as they were.
bool commit_together(const std::vector<OutputFile*>& files, std::string& error);

// Checks a set of output names before any file is made: each must name a
// different file. Two names are the same file when the existing file is the
// same (device and inode, whatever links or folders lead to it) or, for a file
// not made yet, when its folder is the same folder and the name the same.
// "-" (standard output) may come once. Names of files whose folder does not
// exist are compared as written, made plain ("./a//b" is "a/b"). No output may
// be one of `inputs`, the files the command reads: it would be replaced by
// what is made of it. The error text, or empty.
std::string find_repeated_output(const std::vector<std::string>& paths,
                                 const std::vector<std::string>& inputs = {});

// Installs handlers that remove every temporary file not yet committed and then
// end the process by the same signal: for SIGINT and SIGTERM always, for
// SIGHUP, SIGPIPE, SIGALRM, SIGUSR1, SIGUSR2, SIGXCPU and SIGXFSZ unless the
// program was started with the signal ignored (nohup, or a file-size limit
// whose writes should fail with "File too large" instead of ending the run).
void remove_partial_files_on_signal();

// The temporary files that earlier runs killed outright left for `path`: the
// ones no live run holds. A resumed sweep reads what they hold.
std::vector<std::string> stale_temporaries(const std::string& path);

// Flushes standard output. False, with "could not write standard output: " and
// the reason in `error`, when it cannot be written (a full disk, a closed pipe).
bool flush_standard_output(std::string& error);
