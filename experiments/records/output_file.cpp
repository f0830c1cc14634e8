#include "experiments/records/output_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <set>
#include <utility>

#include "experiments/records/output_temporaries.h"

using namespace output_temporaries;

namespace {

std::string reason(int error) {
    return std::strerror(error);
}

// The permissions a plainly created file would get (0666 less the umask), for
// the temporary file that mkstemp makes private.
mode_t plain_file_mode() {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
}

// What an existing file of the name is, when it is not a plain file.
const char* non_plain_kind(mode_t mode) {
    if (S_ISREG(mode)) return nullptr;
    if (S_ISDIR(mode)) return "it is a folder";
    if (S_ISLNK(mode)) return "it is a symbolic link; name the file it points to";
    if (S_ISCHR(mode) || S_ISBLK(mode)) return "it is a device, not a file";
    if (S_ISFIFO(mode)) return "it is a FIFO, not a file";
    if (S_ISSOCK(mode)) return "it is a socket, not a file";
    return "it is not a plain file";
}

bool write_all(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

void sync_folder(const std::string& folder) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

std::string list(const std::vector<std::string>& names) {
    std::string text;
    for (const std::string& n : names) text += (text.empty() ? "" : ", ") + n;
    return text.empty() ? "none" : text;
}

}  // namespace

OutputFile::~OutputFile() {
    discard();
}

bool OutputFile::create(const std::string& path, std::string& error, bool keepStale) {
    discard();
    if (path == "-") {
        // An unnamed file: nothing to remove after any kill. Writers that open
        // files by name reach it through the process's descriptor table.
        const char* tmp = std::getenv("TMPDIR");
        std::string temp =
            std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/marovel-output.XXXXXX";
        const int fd = ::mkstemp(temp.data());
        if (fd < 0) {
            error = "cannot keep standard output in a temporary file: " + reason(errno);
            return false;
        }
        ::unlink(temp.c_str());
        ::fcntl(fd, F_SETFD, FD_CLOEXEC);
        file_ = ::fdopen(::dup(fd), "wb");
        if (file_ == nullptr) {
            ::close(fd);
            error = "cannot keep standard output in a temporary file: " + reason(errno);
            return false;
        }
        lockFd_ = fd;
        toStdout_ = true;
        path_ = path;
        tempPath_ = "/proc/" + std::to_string(::getpid()) + "/fd/" + std::to_string(fd);
        return true;
    }
    if (path.empty()) {
        error = "an empty file name";
        return false;
    }
    const SplitPath where = split_path(path);
    struct stat st = {};
    if (where.name.empty() || where.name == "." || where.name == "..") {
        error = "cannot write " + path + ": it is a folder";
        return false;
    }
    if (::lstat(path.c_str(), &st) == 0) {
        if (const char* kind = non_plain_kind(st.st_mode)) {
            error = "cannot write " + path + ": " + kind;
            return false;
        }
    }
    if (::stat(where.folder.c_str(), &st) != 0) {
        error = "cannot write " + path + ": folder " + where.folder + ": " + reason(errno);
        return false;
    }
    if (!S_ISDIR(st.st_mode)) {
        error = "cannot write " + path + ": " + where.folder + " is not a folder";
        return false;
    }

    // The temporary name is short whatever the final one, so a name too long
    // for the folder's file system is caught here, not at the rename after the work.
    const long longestName = ::pathconf(where.folder.c_str(), _PC_NAME_MAX);
    if (where.name.size() > static_cast<std::size_t>(longestName > 0 ? longestName : 255)) {
        error = "cannot write " + path + ": " + reason(ENAMETOOLONG);
        return false;
    }
    const std::string stem = temp_stem(where.name);
    if (!keepStale) stale_files(where.folder, stem, true);
    std::string hidden(1, '.');  // appended, not "." + name: GCC 12 warns falsely about that
    hidden += stem;
    hidden += ".XXXXXX";
    hidden += TEMP_SUFFIX;
    std::string temp;
    const int fd = make_locked_temporary(temp, join(where.folder, hidden));
    if (fd < 0) {
        error = "cannot write " + path + ": cannot make a file in " +
                (where.folder == "." ? std::string("the working folder") : where.folder) + ": " +
                reason(errno);
        return false;
    }
    slot_ = claim_slot(temp);
    const bool noSlot = slot_ < 0;
    std::FILE* file = noSlot ? nullptr : ::fdopen(::dup(fd), "wb");
    if (file == nullptr) {
        const int why = errno;
        ::unlink(temp.c_str());
        ::close(fd);
        release_slot(slot_);
        slot_ = -1;
        error = "cannot write " + path + ": " +
                (noSlot ? std::string("too many output files or too long a path") : reason(why));
        return false;
    }
    ::fchmod(fd, plain_file_mode());
    file_ = file;
    lockFd_ = fd;
    path_ = path;
    tempPath_ = std::move(temp);
    writeErrno_ = 0;
    toStdout_ = false;
    return true;
}

void OutputFile::write(std::string_view bytes) {
    if (file_ == nullptr || writeErrno_ != 0) return;
    errno = 0;
    if (std::fwrite(bytes.data(), 1, bytes.size(), file_) != bytes.size())
        writeErrno_ = errno != 0 ? errno : EIO;
}

bool OutputFile::finish(std::string& error) {
    if (file_ != nullptr) {
        errno = 0;
        if (std::fflush(file_) != 0 && writeErrno_ == 0) writeErrno_ = errno != 0 ? errno : EIO;
        if (!toStdout_ && writeErrno_ == 0 && ::fsync(::fileno(file_)) != 0) writeErrno_ = errno;
        if (std::fclose(file_) != 0 && writeErrno_ == 0) writeErrno_ = errno != 0 ? errno : EIO;
        file_ = nullptr;
    }
    if (writeErrno_ != 0) {
        error = "could not write " + (toStdout_ ? std::string("standard output") : path_) + ": " +
                reason(writeErrno_);
        return false;
    }
    return true;
}

bool OutputFile::copy_to_standard_output(std::string& error) {
    std::fflush(stdout);
    char buffer[65536];
    off_t offset = 0;
    for (;;) {
        const ssize_t n = ::pread(lockFd_, buffer, sizeof buffer, offset);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            error = "could not read back the output for standard output: " + reason(errno);
            return false;
        }
        if (n == 0) return true;
        if (!write_all(STDOUT_FILENO, buffer, static_cast<std::size_t>(n))) {
            error = "could not write standard output: " + reason(errno);
            return false;
        }
        offset += n;
    }
}

void OutputFile::flush() {
    if (file_ == nullptr || writeErrno_ != 0) return;
    errno = 0;
    if (std::fflush(file_) != 0) writeErrno_ = errno != 0 ? errno : EIO;
}

bool OutputFile::commit(std::string& error) {
    return commit_together({this}, error);
}

void OutputFile::release() {
    release_slot(slot_);
    slot_ = -1;
    if (lockFd_ >= 0) ::close(lockFd_);
    lockFd_ = -1;
    tempPath_.clear();
}

void OutputFile::discard() {
    if (file_ != nullptr) {
        std::fclose(file_);
        file_ = nullptr;
    }
    if (!tempPath_.empty() && !toStdout_) ::unlink(tempPath_.c_str());
    release();
}

bool commit_together(const std::vector<OutputFile*>& files, std::string& error) {
    std::vector<OutputFile*> open;
    for (OutputFile* f : files)
        if (f != nullptr && !f->tempPath_.empty()) open.push_back(f);
    if (open.empty()) return true;

    for (OutputFile* f : open)
        if (!f->finish(error)) {
            for (OutputFile* g : open) g->discard();
            if (open.size() > 1) error += "; no output was replaced";
            return false;
        }

    std::vector<std::string> replaced;
    std::vector<std::string> kept;
    std::string failure;
    begin_commit_window();
    for (OutputFile* f : open) {
        if (f->toStdout_) continue;
        if (!failure.empty()) {
            kept.push_back(f->path_);
            f->discard();
        } else if (std::rename(f->tempPath_.c_str(), f->path_.c_str()) != 0) {
            failure = "could not rename into " + f->path_ + ": " + reason(errno);
            kept.push_back(f->path_);
            f->discard();
        } else {
            replaced.push_back(f->path_);
            release_slot(f->slot_);
            f->slot_ = -1;
        }
    }
    end_commit_window();

    std::set<std::string> folders;
    for (const std::string& p : replaced) folders.insert(split_path(p).folder);
    for (const std::string& folder : folders) sync_folder(folder);

    bool ok = failure.empty();
    if (!ok)
        error = failure + "; replaced: " + list(replaced) + "; left as they were: " + list(kept);
    for (OutputFile* f : open) {
        if (f->toStdout_ && ok && !f->copy_to_standard_output(error)) ok = false;
        f->release();
    }
    return ok;
}

std::string find_repeated_output(const std::vector<std::string>& paths,
                                 const std::vector<std::string>& inputs) {
    struct Identity {
        dev_t device = 0;
        ino_t inode = 0;
        std::string name;  // for a file not made yet: its name within the folder
        bool operator==(const Identity&) const = default;
    };
    const auto identity = [](const std::string& path) {
        Identity id;
        struct stat st = {};
        if (path == "-") {
            id.name = "-";
        } else if (::stat(path.c_str(), &st) == 0) {
            id.device = st.st_dev;
            id.inode = st.st_ino;
        } else {
            const SplitPath where = split_path(path);
            if (::stat(where.folder.c_str(), &st) == 0) {
                id.device = st.st_dev;
                id.inode = st.st_ino;
                id.name = "/" + where.name;
            } else {  // no such folder: refused when it is made, but not twice
                id.name = "?" + std::filesystem::path(path).lexically_normal().string();
            }
        }
        return id;
    };
    std::vector<std::pair<Identity, std::string>> read;
    for (const std::string& path : inputs)
        if (path != "-") read.emplace_back(identity(path), path);
    std::vector<std::pair<Identity, std::string>> seen;
    for (const std::string& path : paths) {
        const Identity id = identity(path);
        for (const auto& [other, otherPath] : seen)
            if (other == id)
                return path == otherPath ? path + " given twice"
                                         : path + " names the same file as " + otherPath;
        for (const auto& [other, otherPath] : read)
            if (other == id)
                return path +
                       (path == otherPath ? std::string(" is")
                                          : " names the same file as " + otherPath + ",") +
                       " a file it reads";
        seen.emplace_back(id, path);
    }
    return {};
}

bool flush_standard_output(std::string& error) {
    // A write that already failed (output longer than the buffer) left its reason.
    int why = !std::cout || std::ferror(stdout) != 0 ? errno : 0;
    errno = 0;
    std::cout.flush();
    if (why == 0) why = errno;
    if (std::fflush(stdout) != 0 && why == 0) why = errno;
    if (std::cout && std::ferror(stdout) == 0) return true;
    error = "could not write standard output";
    if (why != 0) error += ": " + reason(why);
    return false;
}
