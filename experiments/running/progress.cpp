#include "experiments/running/progress.h"

#include <unistd.h>

#include <string>

namespace {

constexpr int BAR_WIDTH = 30;                              // characters of the bar itself
constexpr std::chrono::milliseconds REDRAW_INTERVAL{200};  // at most five redraws a second

std::string clock_text(double seconds) {
    const auto s = static_cast<long long>(seconds + 0.5);
    char text[32];
    if (s >= 3600)
        std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", s / 3600, s / 60 % 60, s % 60);
    else
        std::snprintf(text, sizeof text, "%lld:%02lld", s / 60, s % 60);
    return text;
}

}  // namespace

ProgressBar::ProgressBar(std::size_t total, std::FILE* stream)
    : total_(total),
      stream_(stream),
      enabled_(total > 0 && ::isatty(::fileno(stream)) == 1),
      start_(Clock::now()),
      lastDraw_(start_) {}

ProgressBar::~ProgressBar() {
    if (enabled_ && drawn_) {
        std::fputs("\r\033[K", stream_);
        std::fflush(stream_);
    }
}

void ProgressBar::update(std::size_t done) {
    if (!enabled_) return;
    const Clock::time_point now = Clock::now();
    if (drawn_ && done < total_ && now - lastDraw_ < REDRAW_INTERVAL) return;
    lastDraw_ = now;
    draw(done, std::chrono::duration<double>(now - start_).count());
}

void ProgressBar::draw(std::size_t done, double seconds) {
    const double rate = seconds > 0.0 ? static_cast<double>(done) / seconds : 0.0;
    const auto filled = static_cast<int>(static_cast<double>(BAR_WIDTH) *
                                         static_cast<double>(done) / static_cast<double>(total_));
    char bar[BAR_WIDTH + 1];
    for (int i = 0; i < BAR_WIDTH; ++i) bar[i] = i < filled ? '#' : '.';
    bar[BAR_WIDTH] = '\0';
    const std::string left =
        rate > 0.0 ? clock_text(static_cast<double>(total_ - done) / rate) : std::string("?");
    std::fprintf(stream_, "\r[%s] %zu/%zu runs  %.1f runs/s  %s left\033[K", bar, done, total_,
                 rate, left.c_str());
    std::fflush(stream_);
    drawn_ = true;
}
