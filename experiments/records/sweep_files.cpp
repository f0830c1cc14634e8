#include "experiments/records/sweep_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <cerrno>
#include <charconv>
#include <cstring>

#include "experiments/planning/parameter_text.h"

namespace {

constexpr std::string_view SHARD_PREFIX = "# shard ";

}  // namespace

std::string_view field_at(std::string_view line, int index) {
    for (int i = 0; i < index; ++i) {
        const std::size_t comma = line.find(',');
        if (comma == std::string_view::npos) return {};
        line.remove_prefix(comma + 1);
    }
    return line.substr(0, line.find(','));
}

namespace {

bool parse_count(std::string_view text, long long& value) {
    const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return !text.empty() && ec == std::errc() && ptr == text.data() + text.size();
}

template <class T>
bool read_field(std::string_view columns, std::string_view line, std::string_view name, T& out) {
    const int at = column_index(columns, name);
    long long v = 0;
    if (at < 0 || !parse_count(field_at(line, at), v)) return false;
    out = static_cast<T>(v);
    return true;
}

bool read_tally(std::string_view columns, std::string_view line, VehicleTally& t) {
    return read_field(columns, line, "not_evacuated", t.notEvacuated) &&
           read_field(columns, line, "evacuated", t.evacuated) &&
           read_field(columns, line, "gave_up", t.gaveUp) &&
           read_field(columns, line, "en_route", t.enRoute) &&
           read_field(columns, line, "towed", t.towed) &&
           read_field(columns, line, "out_of_gas", t.outOfGas);
}

}  // namespace

bool split_sweep_file(std::string_view text, SweepFileText& file) {
    file = {};
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t nl = text.find('\n', at);
        if (nl == std::string_view::npos) return false;
        const std::string_view line = text.substr(at, nl - at);
        at = nl + 1;
        if (line.starts_with('#')) {
            file.comments.emplace_back(line);
            continue;
        }
        file.columns = std::string(line);
        file.headerBytes = at;
        std::string_view rows = text.substr(at);
        const std::size_t lastNl = rows.rfind('\n');
        file.rows =
            lastNl == std::string_view::npos ? rows.substr(0, 0) : rows.substr(0, lastNl + 1);
        return true;
    }
    return false;
}

std::string file_kind(const std::vector<std::string>& comments) {
    if (comments.empty()) return {};
    for (const char* kind : {"evacuation curves", "run summary", "households"}) {
        const std::string_view first = comments.front();
        if (first.starts_with("# Marovel ") && first.ends_with(std::string(" ") + kind))
            return kind;
    }
    return {};
}

std::optional<ShardTag> shard_tag(const std::vector<std::string>& comments) {
    for (const std::string& line : comments) {
        if (!std::string_view(line).starts_with(SHARD_PREFIX)) continue;
        const std::string_view rest = std::string_view(line).substr(SHARD_PREFIX.size());
        const std::size_t slash = rest.find('/');
        ShardTag tag;
        if (slash == std::string_view::npos || !parse_count(rest.substr(0, slash), tag.index) ||
            !parse_count(rest.substr(slash + 1), tag.count) || tag.index < 1 ||
            tag.index > tag.count)
            return std::nullopt;
        return tag;
    }
    return std::nullopt;
}

std::string shard_line(long long index, long long count) {
    return std::string(SHARD_PREFIX) + std::to_string(index) + "/" + std::to_string(count) + "\n";
}

std::string header_without_shard(const SweepFileText& file) {
    std::string header;
    for (const std::string& line : file.comments)
        if (!std::string_view(line).starts_with(SHARD_PREFIX)) header += line + "\n";
    return header + file.columns + "\n";
}

std::string_view row_key(std::string_view line) {
    std::size_t at = 0;
    for (int i = 0; i < 3; ++i) {
        at = line.find(',', at);
        if (at == std::string_view::npos) return line;
        ++at;
    }
    return line.substr(0, at);
}

std::string run_key(const SweepRun& run) {
    std::string row;
    append_summary_row(row, run, RunFigures{});
    return std::string(row_key(row));
}

std::optional<float> row_error_spread(std::string_view line) {
    double spread = 0.0;
    if (!parse_error_spread(field_at(line, 2), spread).empty()) return std::nullopt;
    return static_cast<float>(spread);
}

int column_index(std::string_view columns, std::string_view name) {
    if (columns.ends_with('\n')) columns.remove_suffix(1);
    int index = 0;
    for (;;) {
        const std::size_t comma = columns.find(',');
        if (columns.substr(0, comma) == name) return index;
        if (comma == std::string_view::npos) return -1;
        columns.remove_prefix(comma + 1);
        ++index;
    }
}

bool parse_summary_figures(std::string_view columns, std::string_view line, RunFigures& f) {
    f = {};
    if (!read_tally(columns, line, f.final) ||
        !read_field(columns, line, "max_en_route", f.maxEnRoute) ||
        !read_field(columns, line, "max_en_route_tick", f.maxEnRouteTick))
        return false;
    // Ticks that may be empty (never reached); a file without such a column has none.
    RunObservations& o = f.observed;
    for (const auto& [name, slot] : {std::pair{"tick_50", &f.tickHalf},
                                     {"tick_90", &f.tickMost},
                                     {"settled_tick", &o.settledTick},
                                     {"last_arrival_tick", &o.lastArrivalTick}}) {
        const int at = column_index(columns, name);
        const std::string_view text = at < 0 ? std::string_view() : field_at(line, at);
        long long v = 0;
        if (text.empty()) continue;
        if (!parse_count(text, v)) return false;
        *slot = v;
    }
    for (const auto& [name, slot] :
         {std::pair{"trip_mean", &o.tripMean}, {"trip_p90", &o.tripP90}}) {
        const int at = column_index(columns, name);
        const std::string_view text = at < 0 ? std::string_view() : field_at(line, at);
        if (text.empty()) continue;
        const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), *slot);
        if (ec != std::errc() || ptr != text.data() + text.size()) return false;
        o.trips = 1;  // the row says there were trips, not how many
    }
    if (column_index(columns, "households_never_left") >= 0 &&
        !read_field(columns, line, "households_never_left", o.householdsNeverLeft))
        return false;
    return true;
}

bool parse_curve_sample(std::string_view columns, std::string_view line, long long& tick,
                        VehicleTally& tally) {
    return read_field(columns, line, "tick", tick) && read_tally(columns, line, tally);
}

bool read_whole_file(const std::string& path, std::string& text, std::string& error) {
    text.clear();
    const std::string name = file_name_text(path);
    // Opened without waiting (a FIFO without a writer would block the open for
    // ever), and read only when it is a regular file.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        error = name + ": " + std::strerror(errno);
        return false;
    }
    struct stat st = {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        error = name + ": not a regular file";
        ::close(fd);
        return false;
    }
    return read_sweep_stream(fd, name, text, error);
}

bool read_sweep_stream(int fd, const std::string& name, std::string& text, std::string& error) {
    text.clear();
    // gzread reads plain files as they are, and compressed ones (".gz") unpacked;
    // a compressed file cut short gives what could be unpacked. What is unpacked
    // is bounded too, as a small compressed file can unpack to any length.
    gzFile in = gzdopen(fd, "rb");
    if (in == nullptr) {
        ::close(fd);
        error = name + ": " + std::strerror(errno);
        return false;
    }
    char buffer[1 << 16];
    std::size_t lineStart = 0;
    error.clear();
    for (;;) {
        const int n = gzread(in, buffer, sizeof buffer);
        if (n <= 0) break;
        if (text.size() + static_cast<std::size_t>(n) > MAX_SWEEP_FILE_BYTES) {
            error = name + ": longer than " + std::to_string(MAX_SWEEP_FILE_BYTES) + " bytes";
            break;
        }
        text.append(buffer, static_cast<std::size_t>(n));
        bool longLine = false;
        for (std::size_t nl = text.find('\n', text.size() - static_cast<std::size_t>(n));
             nl != std::string::npos; nl = text.find('\n', nl + 1)) {
            longLine = longLine || nl - lineStart > MAX_SWEEP_LINE_BYTES;
            lineStart = nl + 1;
        }
        longLine = longLine || text.size() - lineStart > MAX_SWEEP_LINE_BYTES;
        if (longLine) {
            error =
                name + ": a line longer than " + std::to_string(MAX_SWEEP_LINE_BYTES) + " bytes";
            break;
        }
    }
    gzclose(in);
    if (!error.empty()) {
        text.clear();
        return false;
    }
    return true;
}
