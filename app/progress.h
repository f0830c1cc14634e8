// A one-line progress bar on standard error: runs done, runs per second and
// the time left. Drawn only when standard error is a terminal, so logs and
// pipes stay clean; at most a few times a second.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdio>

class ProgressBar {
  public:
    // Shows nothing unless `stream` is a terminal (or `force`), or total is 0.
    ProgressBar(std::size_t total, std::FILE* stream = stderr, bool force = false);
    ~ProgressBar();  // clears the line

    // `done` runs of the total have finished.
    void update(std::size_t done);
    bool shown() const { return enabled_; }

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
