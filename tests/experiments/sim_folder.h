// marovel-sim run as a user runs it, with no display, in a new folder per test.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include "support/command.h"

namespace fs = std::filesystem;

inline std::string read_file(const fs::path& path) {
    std::ostringstream text;
    text << std::ifstream(path, std::ios::binary).rdbuf();
    return text.str();
}

class SimFolder : public ::testing::Test {
  protected:
    ~SimFolder() override {
        std::error_code ignored;
        fs::remove_all(dir, ignored);
    }
    CommandResult sim(const std::string& args) const {
        return run_command("cd '" + dir.string() + "' && env -u DISPLAY -u WAYLAND_DISPLAY '" +
                           MAROVEL_SIM + "' " + args);
    }
    // The names in the folder, hidden ones too.
    std::set<std::string> entries() const {
        std::set<std::string> names;
        for (const auto& e : fs::directory_iterator(dir)) names.insert(e.path().filename());
        return names;
    }
    const fs::path dir = mkdtemp(std::string("/tmp/marovel-test-XXXXXX").data());
};
