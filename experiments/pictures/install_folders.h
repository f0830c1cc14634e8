// Where the programs find what they were installed with: the pictures (map,
// car and storm) and the picture program. One lookup for the window,
// marovel-sim and marovel-pictures, so that a build tree, an install to any
// prefix (cmake --install --prefix DIR) and an install moved elsewhere work
// from any working folder. The install's layout (bin, libexec, share under
// the prefix, as GNUInstallDirs set them) is known at build time; its prefix
// is found from where the running program lies (/proc/self/exe).
#pragma once

#include <string>
#include <vector>

// The folder of the running executable, or empty text.
std::string executable_folder();

// The prefix of the install a program in `executableFolder` belongs to: the
// folder above the install's bin folder (marovel, marovel-sim) or above its
// libexec/marovel folder (marovel-pictures). Empty when the folder is neither
// (a build tree).
std::string install_prefix_of(const std::string& executableFolder);

// The folders the pictures are looked for in, in order: `dataFolder` (the
// window's --data), then `environment` ($MAROVEL_DATA), then "data" below the
// working folder, then "data" beside the executable (a build tree has a copy
// there) and the install's share/marovel under its prefix (an install to any
// prefix, or moved elsewhere), then `installedFolder` (where the build was
// configured to install them). Empty entries are left out, and each folder
// comes once.
std::vector<std::string> picture_folders(const std::string& dataFolder, const char* environment,
                                         const std::string& executableFolder,
                                         const std::string& installedFolder);
// The same for the running program: $MAROVEL_DATA, its own folder, and the
// folder the build installs the pictures to.
std::vector<std::string> running_picture_folders(const std::string& dataFolder = {});

// The folders the picture program is looked for in, in order: beside the
// executable (a build tree, or marovel-pictures itself), the install's
// libexec/marovel under its prefix, then `installedFolder`. Each once.
std::vector<std::string> picture_program_folders(const std::string& executableFolder,
                                                 const std::string& installedFolder);
// The same for the running program and the folder the build installs it to.
std::vector<std::string> running_picture_program_folders();
