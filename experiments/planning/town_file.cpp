#include "experiments/planning/town_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "sim/town_text.h"

namespace {

// Closes the descriptor however the reading ends.
struct Descriptor {
    int fd;
    ~Descriptor() {
        if (fd >= 0) ::close(fd);
    }
};

bool read_regular_file(const std::string& path, std::size_t limit, std::string& text,
                       std::string& error) {
    Descriptor f{::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC)};
    if (f.fd < 0) {
        error = path + ": " + std::strerror(errno);
        return false;
    }
    struct stat st {};
    if (::fstat(f.fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        error = path + ": not a regular file";
        return false;
    }
    if (static_cast<std::uintmax_t>(st.st_size) > limit) {
        error = path + ": " + std::to_string(st.st_size) +
                " bytes, more than a town of 4096 x 4096 cells can need";
        return false;
    }
    text.resize(static_cast<std::size_t>(st.st_size));
    std::size_t got = 0;
    // A file that grows while it is read is cut at the size it had.
    while (got < text.size()) {
        const ssize_t n = ::read(f.fd, text.data() + got, text.size() - got);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            error = path + ": " + std::strerror(errno);
            return false;
        }
        if (n == 0) break;
        got += static_cast<std::size_t>(n);
    }
    text.resize(got);
    return true;
}

}  // namespace

bool read_town_file(const std::string& path, Town& town, std::string& error, bool parsedOnly) {
    std::string text;
    if (!read_regular_file(path, TOWN_TEXT_MAX_BYTES, text, error)) return false;
    TownTextError where;
    if (!parse_town(text, town, where)) {
        error = path;
        if (where.line > 0) error.append(":").append(std::to_string(where.line));
        if (where.column > 0) error.append(":").append(std::to_string(where.column));
        error.append(": ").append(where.message);
        return false;
    }
    if (parsedOnly) return true;
    for (const TownProblem& p : validate_town(town))
        if (p.level == TownProblem::Level::Error) {
            error = path + ": " + p.message;
            return false;
        }
    return true;
}

bool read_zones_file(const std::string& path, Town& town, std::string& error) {
    std::string text;
    if (!read_regular_file(path, TOWN_TEXT_MAX_BYTES, text, error)) return false;
    TownTextError where;
    if (!parse_zone_layer(text, 1, town, where)) {
        error = path;
        if (where.line > 0) error.append(":").append(std::to_string(where.line));
        if (where.column > 0) error.append(":").append(std::to_string(where.column));
        error.append(": ").append(where.message);
        return false;
    }
    return true;
}

std::shared_ptr<const Town> load_town(const std::string& path, std::string& error) {
    auto town = std::make_shared<Town>();
    if (!read_town_file(path, *town, error)) return nullptr;
    return town;
}
