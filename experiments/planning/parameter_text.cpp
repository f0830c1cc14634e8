#include "experiments/planning/parameter_text.h"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>

std::string_view trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
        s.remove_suffix(1);
    return s;
}

namespace {

const ModelParameters DEFAULTS{};

// Built by appending: GCC 12 warns falsely (-Wrestrict) about "literal" + string.
std::string quoted(std::string_view s) {
    std::string q(1, '"');
    q.append(s);
    q += '"';
    return q;
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
    if (!parse_decimal(text, value))
        return std::string(info->name) + " = " + quoted(text) +
               " is not a decimal number (allowed " + range_text(*info) +
               (info->unit[0] ? std::string(" ") + info->unit : std::string()) + ")";
    if (const ParameterCheck c = check_parameter(*info, value); !c.ok()) return c.text;
    p.*info->field = stored_value(*info, value);
    return {};
}

std::string apply_parameter_file(ModelParameters& p, const std::string& path) {
    std::ifstream in(path);
    if (!in) return path + ": " + std::strerror(errno);
    ModelParameters updated = p;
    std::string line;
    int number = 0;
    while (std::getline(in, line)) {
        ++number;
        std::string_view text = line;
        if (const std::size_t hash = text.find('#'); hash != std::string_view::npos)
            text = text.substr(0, hash);
        if (trim(text).empty()) continue;
        if (const std::string why = apply_assignment(updated, text); !why.empty())
            return path + ":" + std::to_string(number) + ": " + why;
    }
    if (in.bad()) return path + ": could not be read";
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
