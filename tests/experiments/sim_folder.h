// marovel-sim run as a user runs it, with no display, in a new folder per test.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>

#include "support/command.h"

namespace fs = std::filesystem;

inline std::string read_file(const fs::path& path) {
    return {std::istreambuf_iterator<char>(std::ifstream(path, std::ios::binary).rdbuf()), {}};
}

class SimFolder : public ::testing::Test {
  protected:
    ~SimFolder() override { fs::remove_all(dir, ignored); }
    // The arguments may end in "&" and shell commands, run in the folder: `exec` gives
    // marovel-sim the shell's own process, so $! names the program itself.
    CommandResult sim(const std::string& args) const {
        return run_command("cd '" + dir.string() +
                           "' && { exec env -u DISPLAY -u WAYLAND_DISPLAY '" MAROVEL_SIM "' " +
                           args + "; }");
    }
    // The paths in the folder, hidden ones too.
    std::set<fs::path> entries() const {
        return {fs::directory_iterator(dir), fs::directory_iterator()};
    }
    const fs::path dir = mkdtemp(std::string("/tmp/marovel-test-XXXXXX").data());
    std::error_code ignored;
};
