// The temporary files behind OutputFile: their names, their making and
// locking, the stale ones that runs killed outright left, and the list of
// live ones that the handler of an ending signal removes.
#include "experiments/records/output_temporaries.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "experiments/records/output_file.h"

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
constexpr int TEMP_SUFFIX_BYTES = 5;
constexpr std::size_t TEMP_RANDOM_BYTES = 6;  // mkstemps' XXXXXX
constexpr int CREATE_ATTEMPTS = 8;

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

}  // namespace

namespace output_temporaries {

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

void begin_commit_window() {
    committing.store(true);
}

void end_commit_window() {
    committing.store(false);
    act_on_deferred_signal();
}

SplitPath split_path(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return {".", path};
    return {slash == 0 ? "/" : path.substr(0, slash), path.substr(slash + 1)};
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

}  // namespace output_temporaries

using namespace output_temporaries;

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
