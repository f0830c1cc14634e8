// A one-line progress bar on standard error: runs done, runs per second and
// the time left. Drawn only when standard error is a terminal, so logs and
// pipes stay clean; at most a few times a second.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdio>

class ProgressBar {
  public:
    // Draws only when `stream` is a terminal and there are runs to count.
    explicit ProgressBar(std::size_t total, std::FILE* stream = stderr);
    ~ProgressBar();  // clears the line

    // `done` runs of the total have finished.
    void update(std::size_t done);

  private:
    using Clock = std::chrono::steady_clock;
    void draw(std::size_t done, double seconds);

    std::size_t total_;
    std::FILE* stream_;
    bool enabled_;
    Clock::time_point start_;
    Clock::time_point lastDraw_;
    bool drawn_ = false;
};
