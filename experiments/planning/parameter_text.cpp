#include "experiments/planning/parameter_text.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>

std::string_view trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
        s.remove_suffix(1);
    return s;
}

namespace {

const ModelParameters DEFAULTS{};

std::string quoted(std::string_view s) {
    return quote_input(s);
}

std::string csv_field(std::string_view s) {
    if (s.find_first_of(",\"\n") == std::string_view::npos) return std::string(s);
    std::string q = "\"";
    for (char c : s) {
        if (c == '"') q += '"';
        q += c;
    }
    return q + "\"";
}

std::string range_text(const ParameterInfo& info) {
    return format_value(info.min) + ".." + format_value(info.max);
}

}  // namespace

std::string quote_input(std::string_view text, std::size_t limit) {
    static constexpr char HEX[] = "0123456789abcdef";
    std::string q(1, '"');  // appended: GCC 12 warns falsely (-Wrestrict) about "literal" + string
    for (std::size_t i = 0; i < text.size() && i < limit; ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c == '"' || c == '\\') {
            q += '\\';
            q += static_cast<char>(c);
        } else if (c == '\n') {
            q += "\\n";
        } else if (c == '\t') {
            q += "\\t";
        } else if (c == '\r') {
            q += "\\r";
        } else if (c < 0x20 || c >= 0x7f) {
            q += "\\x";
            q += HEX[c >> 4];
            q += HEX[c & 15];
        } else {
            q += static_cast<char>(c);
        }
    }
    if (text.size() > limit) q += "...";
    q += '"';
    return q;
}

std::string one_line(std::string_view message, std::size_t limit) {
    std::string line;
    for (std::size_t i = 0; i < message.size(); ++i) {
        const auto c = static_cast<unsigned char>(message[i]);
        if (c == '"' || c == '\\' || (c >= 0x20 && c < 0x7f))
            line += static_cast<char>(c);
        else {  // the escape as quote_input writes it, without its quotes
            const std::string q = quote_input(message.substr(i, 1));
            line.append(q, 1, q.size() - 2);
        }
        if (line.size() >= limit && i + 1 < message.size()) {
            line += "...";
            break;
        }
    }
    return line;
}

std::string file_name_text(std::string_view path) {
    constexpr std::size_t LIMIT = 200;
    bool plain = !path.empty() && path.size() <= LIMIT;
    for (const char c : path) plain = plain && c >= 0x20 && c < 0x7f && c != '"' && c != '\\';
    return plain ? std::string(path) : quote_input(path, LIMIT);
}

std::string read_regular_file(const std::string& path, std::size_t maxBytes, std::string& text) {
    text.clear();
    const std::string name = file_name_text(path);
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return name + ": " + std::strerror(errno);
    struct stat st = {};
    std::string why;
    if (::fstat(fd, &st) != 0)
        why = name + ": " + std::strerror(errno);
    else if (!S_ISREG(st.st_mode))
        why = name + ": not a regular file";
    else if (static_cast<std::uint64_t>(st.st_size) > maxBytes)
        why = name + ": longer than " + std::to_string(maxBytes) + " bytes";
    // Read until the end, but never past the limit: the file may grow while it is read.
    char buffer[1 << 16];
    while (why.empty()) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) why = name + ": " + std::strerror(errno);
        if (n <= 0) break;
        if (text.size() + static_cast<std::size_t>(n) > maxBytes)
            why = name + ": longer than " + std::to_string(maxBytes) + " bytes";
        else
            text.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
    if (!why.empty()) text.clear();
    return why;
}

bool parse_decimal(std::string_view text, double& value) {
    text = trim(text);
    if (text.empty()) return false;
    std::string_view body = text;
    bool negative = false;
    if (body.front() == '+' || body.front() == '-') {
        negative = body.front() == '-';
        body.remove_prefix(1);
    }
    if (body == "inf" || body == "infinity") {
        value = negative ? -HUGE_VAL : HUGE_VAL;
        return true;
    }
    // Digits, at most one point, an optional exponent: nothing from_chars would
    // also take (nan, hex) and nothing it would not.
    bool digits = false;
    std::size_t i = 0;
    for (; i < body.size() && body[i] >= '0' && body[i] <= '9'; ++i) digits = true;
    if (i < body.size() && body[i] == '.')
        for (++i; i < body.size() && body[i] >= '0' && body[i] <= '9'; ++i) digits = true;
    if (!digits) return false;
    if (i < body.size() && (body[i] == 'e' || body[i] == 'E')) {
        ++i;
        if (i < body.size() && (body[i] == '+' || body[i] == '-')) ++i;
        bool exponent = false;
        for (; i < body.size() && body[i] >= '0' && body[i] <= '9'; ++i) exponent = true;
        if (!exponent) return false;
    }
    if (i != body.size()) return false;
    double v = 0.0;
    const auto [ptr, ec] = std::from_chars(body.data(), body.data() + body.size(), v);
    if (ptr != body.data() + body.size()) return false;
    if (ec == std::errc::result_out_of_range)
        v = HUGE_VAL;  // above the largest double
    else if (ec != std::errc())
        return false;
    value = negative ? -v : v;
    return true;
}

std::string apply_assignment(ModelParameters& p, std::string_view assignment) {
    const std::size_t eq = assignment.find('=');
    if (eq == std::string_view::npos) return quoted(assignment) + " is not NAME=VALUE";
    const std::string_view name = trim(assignment.substr(0, eq));
    const std::string_view text = trim(assignment.substr(eq + 1));
    const ParameterInfo* info = find_parameter(name.data(), name.size());
    if (info == nullptr)
        return "unknown parameter " + quoted(name) + " (marovel-sim params lists them)";
    double value = 0.0;
    // A named choice takes its names as well as their numbers.
    const bool named = info->choices != nullptr && choice_value(*info, text.data(), text.size(), value);
    if (!named && !parse_decimal(text, value))
        return std::string(info->name) + " = " + quoted(text) +
               " is not a decimal number (allowed " + range_text(*info) +
               (info->unit[0] ? std::string(" ") + info->unit : std::string()) + ")";
    if (const ParameterCheck c = check_parameter(*info, value); !c.ok()) return c.text;
    p.*info->field = stored_value(*info, value);
    return {};
}

std::string apply_parameter_file(ModelParameters& p, const std::string& path) {
    std::string whole;
    if (std::string why = read_regular_file(path, MAX_PARAMETER_FILE_BYTES, whole); !why.empty())
        return why;
    ModelParameters updated = p;
    std::string_view rest = whole;
    int number = 0;
    while (!rest.empty()) {
        const std::size_t nl = rest.find('\n');
        std::string_view text = rest.substr(0, nl);
        rest.remove_prefix(nl == std::string_view::npos ? rest.size() : nl + 1);
        ++number;
        const std::string where = file_name_text(path) + ":" + std::to_string(number) + ": ";
        if (text.size() > MAX_PARAMETER_LINE_BYTES)
            return where + "longer than " + std::to_string(MAX_PARAMETER_LINE_BYTES) + " bytes";
        if (text.find('\0') != std::string_view::npos) return where + "holds a NUL byte";
        if (const std::size_t hash = text.find('#'); hash != std::string_view::npos)
            text = text.substr(0, hash);
        if (trim(text).empty()) continue;
        if (const std::string why = apply_assignment(updated, text); !why.empty())
            return where + why;
    }
    p = updated;
    return {};
}

std::string parse_error_spread(std::string_view text, double& spread) {
    const std::string_view name = trim(text);
    if (name == "low")
        spread = ERROR_LOW;
    else if (name == "moderate")
        spread = ERROR_MODERATE;
    else if (name == "high")
        spread = ERROR_HIGH;
    else {
        ModelParameters p;
        const std::string why = apply_assignment(p, "error_spread=" + std::string(name));
        if (!why.empty())
            return why.find("not a decimal") != std::string::npos
                       ? quoted(name) +
                             " is not an error level (low, moderate, high or a number >= 0)"
                       : why;
        spread = p.errorSpread;
    }
    return {};
}

std::string error_spread_text(double spread) {
    if (spread == static_cast<double>(ERROR_LOW)) return "low";
    if (spread == static_cast<double>(ERROR_MODERATE)) return "moderate";
    if (spread == static_cast<double>(ERROR_HIGH)) return "high";
    return format_parameter(*find_parameter("error_spread", 12), spread);
}

std::string format_value(double value) {
    if (std::isinf(value)) return value > 0 ? "inf" : "-inf";
    char buffer[64];
    if (value == std::trunc(value) && std::fabs(value) < 1e15) {
        std::snprintf(buffer, sizeof buffer, "%.0f", value);
        return buffer;
    }
    const auto [ptr, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
    (void)ec;
    return std::string(buffer, ptr);
}

std::string format_parameter(const ParameterInfo& info, double value) {
    if (const char* name = choice_name(info, value)) return name;
    // A single-precision value is stored as the float the model uses: it reads best as
    // that float (and reads back, through stored_value, to the same value).
    if (!single_precision(info) || std::isinf(value) || value == std::trunc(value))
        return format_value(value);
    char buffer[64];
    const auto [ptr, ec] = std::to_chars(buffer, buffer + sizeof buffer, static_cast<float>(value));
    (void)ec;
    return std::string(buffer, ptr);
}

std::vector<std::pair<std::string, std::string>> changed_parameters(const ModelParameters& p) {
    std::vector<std::pair<std::string, std::string>> changed;
    for (std::size_t i = 0; i < PARAMETER_COUNT; ++i) {
        const ParameterInfo& info = PARAMETER_TABLE[i];
        if (!is_default(p, info))
            changed.emplace_back(info.name, format_parameter(info, p.*info.field));
    }
    return changed;
}

std::string changed_parameter_lines(const ModelParameters& p, std::string_view prefix) {
    std::string lines;
    for (const auto& [name, value] : changed_parameters(p)) {
        lines += prefix;
        lines += "parameter " + name + " = " + value + "\n";
    }
    return lines;
}

std::string parameter_table_text() {
    std::string out;
    char line[512];
    std::snprintf(line, sizeof line, "%-21s %-9s %-17s %-15s %s\n", "name", "default", "unit",
                  "range", "meaning");
    out += line;
    for (std::size_t i = 0; i < PARAMETER_COUNT; ++i) {
        const ParameterInfo& info = PARAMETER_TABLE[i];
        std::snprintf(line, sizeof line, "%-21s %-9s %-17s %-15s %s\n", info.name,
                      format_parameter(info, DEFAULTS.*info.field).c_str(), info.unit,
                      range_text(info).c_str(), info.meaning);
        out += line;
    }
    return out;
}

std::string parameter_table_csv() {
    std::string out = "name,default,unit,min,max,kind,meaning\n";
    for (std::size_t i = 0; i < PARAMETER_COUNT; ++i) {
        const ParameterInfo& info = PARAMETER_TABLE[i];
        out += std::string(info.name) + "," + format_parameter(info, DEFAULTS.*info.field) + "," +
               csv_field(info.unit) + "," + format_value(info.min) + "," + format_value(info.max) +
               "," + (info.kind == ParameterKind::Integer ? "integer" : "real") + "," +
               csv_field(info.meaning) + "\n";
    }
    return out;
}

std::string parameter_table_markdown() {
    std::string out = "| name | default | unit | range | meaning |\n|---|---|---|---|---|\n";
    for (std::size_t i = 0; i < PARAMETER_COUNT; ++i) {
        const ParameterInfo& info = PARAMETER_TABLE[i];
        std::string range = range_text(info);
        if (info.kind == ParameterKind::Integer) range += ", whole";
        out += "| `" + std::string(info.name) + "` | " +
               format_parameter(info, DEFAULTS.*info.field) + " | " + info.unit + " | " + range +
               " | " + info.meaning + " |\n";
    }
    return out;
}
