// The process's peak memory, for the benchmarks' counters.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <cstring>

// Peak resident set of the process so far, bytes (Linux: VmHWM).
inline double peak_rss_bytes() {
    std::FILE* f = std::fopen("/proc/self/status", "r");
    if (f == nullptr) return 0.0;
    char line[256];
    double kb = 0.0;
    while (std::fgets(line, sizeof line, f) != nullptr)
        if (std::strncmp(line, "VmHWM:", 6) == 0) kb = std::atof(line + 6);
    std::fclose(f);
    return kb * 1024.0;
}
