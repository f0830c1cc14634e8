// marovel-sim run as a user runs it, with no display, in a new folder per test.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "support/command.h"

namespace fs = std::filesystem;

inline std::string read_file(const fs::path& path) {
    return {std::istreambuf_iterator<char>(std::ifstream(path, std::ios::binary).rdbuf()), {}};
}

// A CSV file's rows after its comment lines and column names, each as its
// column names' cells.
inline std::vector<std::map<std::string, std::string>> csv_rows(const std::string& text) {
    std::istringstream in(text);
    std::vector<std::string> names;
    std::vector<std::map<std::string, std::string>> rows;
    for (std::string line; std::getline(in, line);) {
        if (line.starts_with("#")) continue;
        std::vector<std::string> cells;
        std::istringstream cellText(line + ",");
        for (std::string cell; std::getline(cellText, cell, ',');) cells.push_back(cell);
        if (names.empty()) {
            names = cells;
            continue;
        }
        std::map<std::string, std::string>& row = rows.emplace_back();
        for (std::size_t i = 0; i < names.size() && i < cells.size(); ++i) row[names[i]] = cells[i];
    }
    return rows;
}

// Bad input as every program must refuse it: status 2 (or a failure while
// running: 1), nothing on standard output, and one line on standard error that
// holds `says`.
inline ::testing::AssertionResult refused(const CommandResult& r, const std::string& says,
                                          int status = 2) {
    if (r.status == status && r.out.empty() && std::count(r.err.begin(), r.err.end(), '\n') == 1 &&
        r.err.find(says) != std::string::npos)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
           << "status " << r.status << ", standard output \"" << r.out.substr(0, 200)
           << "\", standard error \"" << r.err << "\"; wanted one line holding \"" << says << "\"";
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
