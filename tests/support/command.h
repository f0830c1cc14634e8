// Runs one of the project's programs as a user would and collects what it said.
#pragma once

#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <string>

struct CommandResult {
    int status = -1;  // exit status, or -1 if it did not exit normally
    std::string out;  // standard output
    std::string err;  // standard error
};

// `command` is a shell command line; standard error is captured through a temp file.
inline CommandResult run_command(const std::string& command) {
    CommandResult result;
    char errPath[] = "/tmp/marovel-test-stderr-XXXXXX";
    const int fd = mkstemp(errPath);
    if (fd < 0) return result;
    close(fd);
    FILE* pipe = popen((command + " 2>" + errPath).c_str(), "r");
    if (pipe == nullptr) return result;
    std::array<char, 4096> buffer;
    std::size_t n;
    while ((n = fread(buffer.data(), 1, buffer.size(), pipe)) > 0)
        result.out.append(buffer.data(), n);
    const int raw = pclose(pipe);
    if (raw != -1 && WIFEXITED(raw)) result.status = WEXITSTATUS(raw);
    if (FILE* err = std::fopen(errPath, "r")) {
        while ((n = fread(buffer.data(), 1, buffer.size(), err)) > 0)
            result.err.append(buffer.data(), n);
        std::fclose(err);
    }
    std::remove(errPath);
    return result;
}
