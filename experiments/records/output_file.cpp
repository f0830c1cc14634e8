#include "experiments/records/output_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <set>
#include <utility>

namespace {

// The temporary paths the signal handler removes. Fixed storage, so the
// handler touches no heap and calls only unlink, which is async-signal-safe.
constexpr int MAX_PENDING = 64;
constexpr std::size_t MAX_PATH_BYTES = 4096;
char pendingPaths[MAX_PENDING][MAX_PATH_BYTES];
// A slot is free, reserved while its path is copied in, or live: only live
// paths are complete, and only they are removed.
enum SlotState { SLOT_FREE = 0, SLOT_RESERVED = 1, SLOT_LIVE = 2 };
std::atomic<int> pendingState[MAX_PENDING];

// While a set of files is renamed into place, a signal is only noted and acted
// on after the last rename, so that the set is replaced whole. Any thread may
// take the signal (the sweep's worker threads too), so the handler checks the
// flag rather than relying on one thread's signal mask.
std::atomic<bool> committing{false};
std::atomic<int> deferredSignal{0};

// The signals that end the program by default and that a user or the system
// sends to stop it. SIGINT and SIGTERM are always handled; the others keep an
// ignored disposition the program was started with.
constexpr int ALWAYS_HANDLED[] = {SIGINT, SIGTERM};
constexpr int HANDLED_UNLESS_IGNORED[] = {SIGHUP,  SIGPIPE, SIGALRM, SIGUSR1,
                                          SIGUSR2, SIGXCPU, SIGXFSZ};

// Names longer than this get a shortened stem in their temporary name, so that
// any name the file system accepts (255 bytes) can be written.
constexpr std::size_t MAX_STEM_BYTES = 200;
constexpr std::size_t SHORT_STEM_BYTES = 180;  // kept from a long name, before its hash
constexpr const char* TEMP_SUFFIX = ".part";
constexpr int TEMP_SUFFIX_BYTES = 5;
constexpr std::size_t TEMP_RANDOM_BYTES = 6;  // mkstemps' XXXXXX
constexpr int CREATE_ATTEMPTS = 8;

int claim_slot(const std::string& path) {
    if (path.size() >= MAX_PATH_BYTES) return -1;
    for (int i = 0; i < MAX_PENDING; ++i) {
        int expected = SLOT_FREE;
        if (pendingState[i].compare_exchange_strong(expected, SLOT_RESERVED)) {
            std::memcpy(pendingPaths[i], path.c_str(), path.size() + 1);
            pendingState[i].store(SLOT_LIVE);
            return i;
        }
    }
    return -1;
}

void release_slot(int slot) {
    if (slot >= 0) pendingState[slot].store(SLOT_FREE);
}

void remove_pending_and_die(int sig) {
    for (int i = 0; i < MAX_PENDING; ++i)
        if (pendingState[i].load() == SLOT_LIVE) ::unlink(pendingPaths[i]);
    std::signal(sig, SIG_DFL);
    std::raise(sig);
}

extern "C" void on_ending_signal(int sig) {
    // Noted first, then the flag read: the committing thread clears the flag
    // and then reads the note, so one of the two always acts on the signal.
    deferredSignal.store(sig);
    if (committing.load()) return;
    remove_pending_and_die(sig);
}

void act_on_deferred_signal() {
    if (const int sig = deferredSignal.load(); sig != 0) remove_pending_and_die(sig);
}

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

struct SplitPath {
    std::string folder;  // "." for a bare name
    std::string name;    // empty when the path ends in '/'
};

SplitPath split_path(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return {".", path};
    return {slash == 0 ? "/" : path.substr(0, slash), path.substr(slash + 1)};
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

// The part of a name its temporary files carry: the name itself, or for a
// long one its start and a hash of the whole, so temporary names stay within
// the file system's limit and still tell which output they belong to.
std::string temp_stem(const std::string& name) {
    if (name.size() <= MAX_STEM_BYTES) return name;
    std::size_t keep = SHORT_STEM_BYTES;
    // Cut before a character, not inside one of several bytes.
    while (keep > 0 && (static_cast<unsigned char>(name[keep]) & 0xC0) == 0x80) --keep;
    std::uint64_t hash = 14695981039346656037ULL;  // FNV-1a
    for (unsigned char c : name) hash = (hash ^ c) * 1099511628211ULL;
    char hex[17];
    std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(hash));
    return name.substr(0, keep) + "~" + hex;
}

std::string join(const std::string& folder, const std::string& name) {
    return folder == "/" ? "/" + name : folder + "/" + name;
}

// The temporary files of `stem` in `folder` that no live run holds: their
// writer holds a lock on each until it is renamed or removed, so a file whose
// lock can be taken was left by a run that was killed outright. With `remove`
// they are removed (while locked, so that no other run takes them meanwhile).
std::vector<std::string> stale_files(const std::string& folder, const std::string& stem,
                                     bool remove) {
    std::vector<std::string> found;
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr) return found;
    std::string prefix(1, '.');
    prefix += stem;
    prefix += '.';
    const std::size_t length = prefix.size() + TEMP_RANDOM_BYTES + TEMP_SUFFIX_BYTES;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string_view name = entry->d_name;
        if (name.size() != length || !name.starts_with(prefix) || !name.ends_with(TEMP_SUFFIX))
            continue;
        const std::string path = join(folder, std::string(name));
        const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) continue;
        struct stat st = {};
        if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && ::flock(fd, LOCK_EX | LOCK_NB) == 0) {
            if (remove) ::unlink(path.c_str());
            found.push_back(path);
        }
        ::close(fd);
    }
    ::closedir(dir);
    return found;
}

// Makes and locks a new temporary file; the descriptor, or -1 with errno set.
// A file found unlinked once locked was taken for stale by another run in the
// moment between its making and its locking: another name is tried.
int make_locked_temporary(std::string& temp, const std::string& pattern) {
    for (int attempt = 0; attempt < CREATE_ATTEMPTS; ++attempt) {
        temp = pattern;
        const int fd = ::mkstemps(temp.data(), TEMP_SUFFIX_BYTES);
        if (fd < 0) return -1;
        struct stat st = {};
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0 && ::fstat(fd, &st) == 0 && st.st_nlink > 0) {
            ::fcntl(fd, F_SETFD, FD_CLOEXEC);
            return fd;
        }
        ::close(fd);
    }
    errno = EAGAIN;
    return -1;
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
    committing.store(true);
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
    committing.store(false);
    act_on_deferred_signal();

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

std::string find_repeated_output(const std::vector<std::string>& paths) {
    struct Identity {
        dev_t device = 0;
        ino_t inode = 0;
        std::string name;  // for a file not made yet: its name within the folder
        bool operator==(const Identity&) const = default;
    };
    std::vector<std::pair<Identity, std::string>> seen;
    for (const std::string& path : paths) {
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
            } else {
                id.name = "?" + path;  // no such folder: refused when it is made
            }
        }
        for (const auto& [other, otherPath] : seen)
            if (other == id)
                return path == otherPath ? path + " given twice"
                                         : path + " names the same file as " + otherPath;
        seen.emplace_back(id, path);
    }
    return {};
}

void remove_partial_files_on_signal() {
    struct sigaction action = {};
    action.sa_handler = on_ending_signal;
    sigemptyset(&action.sa_mask);
    for (int sig : ALWAYS_HANDLED) ::sigaction(sig, &action, nullptr);
    for (int sig : HANDLED_UNLESS_IGNORED) {
        struct sigaction current = {};
        if (::sigaction(sig, nullptr, &current) == 0 && current.sa_handler == SIG_IGN) continue;
        ::sigaction(sig, &action, nullptr);
    }
}

std::vector<std::string> stale_temporaries(const std::string& path) {
    const SplitPath where = split_path(path);
    if (path.empty() || path == "-" || where.name.empty()) return {};
    return stale_files(where.folder, temp_stem(where.name), false);
}

bool flush_standard_output(std::string& error) {
    errno = 0;
    std::cout.flush();
    int why = errno;
    if (std::fflush(stdout) != 0 && why == 0) why = errno;
    if (std::cout && std::ferror(stdout) == 0) return true;
    error = "could not write standard output";
    if (why != 0) error += ": " + reason(why);
    return false;
}
