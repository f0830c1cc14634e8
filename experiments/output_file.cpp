#include "experiments/output_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <filesystem>

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

extern "C" void remove_pending_and_die(int sig) {
    for (int i = 0; i < MAX_PENDING; ++i)
        if (pendingState[i].load() == SLOT_LIVE) ::unlink(pendingPaths[i]);
    std::signal(sig, SIG_DFL);
    std::raise(sig);
}

std::string system_reason() {
    return std::strerror(errno);
}

// The permissions a plainly created file would get (0666 less the umask), for
// the temporary file that mkstemp makes private.
mode_t plain_file_mode() {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
}

}  // namespace

OutputFile::~OutputFile() {
    discard();
}

bool OutputFile::create(const std::string& path, std::string& error) {
    discard();
    namespace fs = std::filesystem;
    const fs::path target(path);
    std::error_code ec;
    if (target.filename().empty() || fs::is_directory(target, ec)) {
        error = "cannot write " + path + ": it is a folder";
        return false;
    }
    const fs::path folder = target.has_parent_path() ? target.parent_path() : fs::path(".");
    std::string hidden(1, '.');  // appended, not "." + name: GCC 12 warns falsely about that
    hidden += target.filename().string();
    hidden += ".XXXXXX.part";
    std::string temp = (folder / hidden).string();
    const int fd = ::mkstemps(temp.data(), 5);
    if (fd < 0) {
        error = "cannot write " + path + ": " + system_reason();
        return false;
    }
    slot_ = claim_slot(temp);
    if (slot_ < 0) {
        ::close(fd);
        ::unlink(temp.c_str());
        error = "cannot write " + path + ": too many output files or too long a path";
        return false;
    }
    ::fchmod(fd, plain_file_mode());
    file_ = ::fdopen(fd, "wb");
    if (file_ == nullptr) {
        ::close(fd);
        ::unlink(temp.c_str());
        release_slot(slot_);
        slot_ = -1;
        error = "cannot write " + path + ": " + system_reason();
        return false;
    }
    path_ = path;
    tempPath_ = std::move(temp);
    failed_ = false;
    return true;
}

void OutputFile::write(std::string_view bytes) {
    if (file_ == nullptr || failed_) return;
    if (std::fwrite(bytes.data(), 1, bytes.size(), file_) != bytes.size()) failed_ = true;
}

void OutputFile::flush() {
    if (file_ != nullptr && !failed_ && std::fflush(file_) != 0) failed_ = true;
}

bool OutputFile::commit(std::string& error) {
    if (tempPath_.empty()) {
        error = "nothing to commit";
        return false;
    }
    if (file_ != nullptr) {
        if (std::fflush(file_) != 0) failed_ = true;
        if (std::fclose(file_) != 0) failed_ = true;
        file_ = nullptr;
    }
    if (failed_) {
        error = "could not write " + path_;
        discard();
        return false;
    }
    if (std::rename(tempPath_.c_str(), path_.c_str()) != 0) {
        error = "could not rename into " + path_ + ": " + system_reason();
        discard();
        return false;
    }
    release_slot(slot_);
    slot_ = -1;
    tempPath_.clear();
    return true;
}

void OutputFile::discard() {
    if (file_ != nullptr) {
        std::fclose(file_);
        file_ = nullptr;
    }
    if (!tempPath_.empty()) {
        ::unlink(tempPath_.c_str());
        tempPath_.clear();
    }
    release_slot(slot_);
    slot_ = -1;
}

void remove_partial_files_on_signal() {
    struct sigaction action = {};
    action.sa_handler = remove_pending_and_die;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
}
