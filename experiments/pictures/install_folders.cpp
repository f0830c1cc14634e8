#include "experiments/pictures/install_folders.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <optional>

// The install's layout relative to its prefix, and the folders it is
// configured to install to (experiments/CMakeLists.txt sets them all).
#ifndef MAROVEL_INSTALL_BINDIR
#define MAROVEL_INSTALL_BINDIR "bin"
#endif
#ifndef MAROVEL_INSTALL_LIBEXECDIR
#define MAROVEL_INSTALL_LIBEXECDIR "libexec"
#endif
#ifndef MAROVEL_INSTALL_DATADIR
#define MAROVEL_INSTALL_DATADIR "share"
#endif
#ifndef MAROVEL_LIBEXEC_DIR
#define MAROVEL_LIBEXEC_DIR "/usr/local/libexec/marovel"
#endif
#ifndef MAROVEL_DATA_DIR
#define MAROVEL_DATA_DIR "/usr/local/share/marovel"
#endif

namespace fs = std::filesystem;

namespace {

// The folder of `folder` above its trailing `tail` ("bin", "libexec/marovel"),
// or nothing when it does not end in it. An absolute `tail` (an install
// configured with absolute folders) never matches: such an install cannot move.
std::optional<fs::path> above(const fs::path& folder, const fs::path& tail) {
    if (tail.empty() || tail.is_absolute()) return std::nullopt;
    std::vector<fs::path> names(folder.begin(), folder.end()), wanted(tail.begin(), tail.end());
    while (!names.empty() && names.back().empty()) names.pop_back();  // a trailing slash
    if (wanted.size() >= names.size()) return std::nullopt;
    if (!std::equal(wanted.begin(), wanted.end(), names.end() - static_cast<long>(wanted.size())))
        return std::nullopt;
    fs::path prefix;
    for (auto it = names.begin(); it != names.end() - static_cast<long>(wanted.size()); ++it)
        prefix /= *it;
    return prefix;
}

void add_once(std::vector<std::string>& folders, const std::string& folder) {
    if (!folder.empty() && std::find(folders.begin(), folders.end(), folder) == folders.end())
        folders.push_back(folder);
}

}  // namespace

std::string executable_folder() {
    std::error_code ec;
    const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    return ec ? std::string() : exe.parent_path().string();
}

std::string install_prefix_of(const std::string& executableFolder) {
    if (executableFolder.empty()) return {};
    const fs::path folder = fs::path(executableFolder).lexically_normal();
    for (const fs::path& tail :
         {fs::path(MAROVEL_INSTALL_BINDIR), fs::path(MAROVEL_INSTALL_LIBEXECDIR) / "marovel"})
        if (const std::optional<fs::path> prefix = above(folder, tail.lexically_normal()))
            return prefix->string();
    return {};
}

std::vector<std::string> picture_folders(const std::string& dataFolder, const char* environment,
                                         const std::string& executableFolder,
                                         const std::string& installedFolder) {
    std::vector<std::string> folders;
    add_once(folders, dataFolder);
    add_once(folders, environment != nullptr ? environment : "");
    add_once(folders, "data");
    if (!executableFolder.empty())
        add_once(folders, (fs::path(executableFolder) / "data").string());
    if (const std::string prefix = install_prefix_of(executableFolder); !prefix.empty())
        add_once(folders, (fs::path(prefix) / MAROVEL_INSTALL_DATADIR / "marovel").string());
    add_once(folders, installedFolder);
    return folders;
}

std::vector<std::string> running_picture_folders(const std::string& dataFolder) {
    return picture_folders(dataFolder, std::getenv("MAROVEL_DATA"), executable_folder(),
                           MAROVEL_DATA_DIR);
}

std::vector<std::string> picture_program_folders(const std::string& executableFolder,
                                                 const std::string& installedFolder) {
    std::vector<std::string> folders;
    add_once(folders, executableFolder);
    if (const std::string prefix = install_prefix_of(executableFolder); !prefix.empty())
        add_once(folders, (fs::path(prefix) / MAROVEL_INSTALL_LIBEXECDIR / "marovel").string());
    add_once(folders, installedFolder);
    return folders;
}

std::vector<std::string> running_picture_program_folders() {
    return picture_program_folders(executable_folder(), MAROVEL_LIBEXEC_DIR);
}
