#include "experiments/records/provenance.h"

#include <nettle/sha2.h>
#include <unistd.h>

#include <cstdint>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string_view>

#include "experiments/planning/parameter_text.h"
#include "experiments/records/output_file.h"
#include "sim/town_text.h"

#ifndef MAROVEL_VERSION
#define MAROVEL_VERSION "unknown"
#endif
#ifndef MAROVEL_BUILD_TYPE
#define MAROVEL_BUILD_TYPE "unknown"
#endif

// Generated at build time from `git describe`: the commit, or empty text.
extern const char* const MAROVEL_GIT_COMMIT;

namespace {

std::string compiler_name() {
#if defined(__clang__)
    return "Clang " + std::to_string(__clang_major__) + "." + std::to_string(__clang_minor__) +
           "." + std::to_string(__clang_patchlevel__);
#elif defined(__GNUC__)
    return "GCC " + std::to_string(__GNUC__) + "." + std::to_string(__GNUC_MINOR__) + "." +
           std::to_string(__GNUC_PATCHLEVEL__);
#else
    return "unknown compiler";
#endif
}

std::string hex(const std::uint8_t* bytes, std::size_t n) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (std::size_t i = 0; i < n; ++i) {
        out += digits[bytes[i] >> 4];
        out += digits[bytes[i] & 15];
    }
    return out;
}

}  // namespace

BuildInfo build_info() {
    return {MAROVEL_VERSION, MAROVEL_GIT_COMMIT, compiler_name(), MAROVEL_BUILD_TYPE};
}

std::string build_line() {
    const BuildInfo b = build_info();
    return "# build: Marovel " + b.version + ", commit " +
           (b.commit.empty() ? std::string("unknown") : b.commit) + ", " + b.compiler + ", " +
           b.buildType + "\n";
}

std::string town_line(const Town& town) {
    std::string name = town.name.empty() ? std::string("unnamed") : town.name;
    for (char& c : name)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';  // one line, always
    return "# town: " + name + ", " + std::to_string(town.width) + " x " +
           std::to_string(town.height) + " cells, sha256 " + sha256_of_text(format_town(town)) +
           "\n";
}

std::string parameters_line(const ModelParameters& p) {
    std::string line = "# parameters:";
    for (std::size_t i = 0; i < PARAMETER_COUNT; ++i) {
        const ParameterInfo& info = PARAMETER_TABLE[i];
        if (info.field == &ModelParameters::errorSpread) continue;
        line += ' ';
        line += info.name;
        line += '=';
        line += format_parameter(info, p.*info.field);
    }
    return line + "\n";
}

std::string sha256_of_text(const std::string& text) {
    sha256_ctx ctx;
    sha256_init(&ctx);
    sha256_update(&ctx, text.size(), reinterpret_cast<const std::uint8_t*>(text.data()));
    std::uint8_t digest[SHA256_DIGEST_SIZE];
    sha256_digest(&ctx, sizeof digest, digest);
    return hex(digest, sizeof digest);
}

std::string sha256_of_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return {};
    sha256_ctx ctx;
    sha256_init(&ctx);
    char buffer[1 << 16];
    while (in) {
        in.read(buffer, sizeof buffer);
        const auto n = static_cast<std::size_t>(in.gcount());
        if (n > 0) sha256_update(&ctx, n, reinterpret_cast<const std::uint8_t*>(buffer));
    }
    if (in.bad()) return {};
    std::uint8_t digest[SHA256_DIGEST_SIZE];
    sha256_digest(&ctx, sizeof digest, digest);
    return hex(digest, sizeof digest);
}

std::string utc_now() {
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
    gmtime_r(&now, &utc);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return text;
}

RunRecord start_record(int argc, char** argv) {
    RunRecord r;
    r.arguments.assign(argv, argv + argc);
    r.startTime = utc_now();
    char host[256] = {};
    if (gethostname(host, sizeof host - 1) == 0) r.host = host;
    return r;
}

namespace {

bool valid_utf8(std::string_view s) {
    std::size_t i = 0;
    while (i < s.size()) {
        const auto c = static_cast<unsigned char>(s[i]);
        std::size_t len = c < 0x80           ? 1
                          : (c >> 5) == 0x6  ? 2
                          : (c >> 4) == 0xE  ? 3
                          : (c >> 3) == 0x1E ? 4
                                             : 0;
        if (len == 0 || i + len > s.size()) return false;
        std::uint32_t code = len == 1 ? c : c & (0x7F >> len);
        for (std::size_t k = 1; k < len; ++k) {
            const auto d = static_cast<unsigned char>(s[i + k]);
            if ((d & 0xC0) != 0x80) return false;
            code = code << 6 | (d & 0x3F);
        }
        // Overlong forms, surrogates and code points past U+10FFFF are not UTF-8.
        static constexpr std::uint32_t LEAST[5] = {0, 0, 0x80, 0x800, 0x10000};
        if (code < LEAST[len] || (code >= 0xD800 && code <= 0xDFFF) || code > 0x10FFFF)
            return false;
        i += len;
    }
    return true;
}

// Names and arguments are bytes. JSON holds text, so one that is not UTF-8 is
// recorded as {"escaped": ...}: its backslashes doubled and every byte that is
// not printable ASCII as \xHH, which gives the bytes back exactly.
nlohmann::ordered_json text_of_bytes(const std::string& bytes) {
    if (valid_utf8(bytes)) return bytes;
    std::string escaped;
    for (char ch : bytes) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == '\\') {
            escaped += "\\\\";
        } else if (c >= 0x20 && c < 0x7F) {
            escaped += ch;
        } else {
            static constexpr char HEX[] = "0123456789abcdef";
            escaped += "\\x";
            escaped += HEX[c >> 4];
            escaped += HEX[c & 15];
        }
    }
    return {{"escaped", escaped}};
}

}  // namespace

void write_metadata(const RunRecord& record, OutputFile& metadata) {
    const BuildInfo b = build_info();
    nlohmann::ordered_json j;
    j["program"] = "marovel-sim";
    j["version"] = b.version;
    j["commit"] = b.commit;
    j["compiler"] = b.compiler;
    j["build_type"] = b.buildType;
    j["start_time"] = record.startTime;
    j["end_time"] = utc_now();
    j["host"] = text_of_bytes(record.host);
    nlohmann::ordered_json arguments = nlohmann::ordered_json::array();
    for (const std::string& a : record.arguments) arguments.push_back(text_of_bytes(a));
    j["arguments"] = arguments;
    j["command"] = text_of_bytes(record.recordedCommand);
    nlohmann::ordered_json params = nlohmann::ordered_json::object();
    for (std::size_t i = 0; i < PARAMETER_COUNT; ++i) {
        const ParameterInfo& info = PARAMETER_TABLE[i];
        const double v = record.parameters.*info.field;
        // JSON has no infinity: such values are written as text.
        if (std::isfinite(v))
            params[info.name] = v;
        else
            params[info.name] = format_value(v);
    }
    j["parameters"] = params;
    for (const auto& [name, value] : record.extra) j[name] = text_of_bytes(value);
    nlohmann::ordered_json outputs = nlohmann::ordered_json::array();
    for (OutputFile* file : record.outputs) {
        // Standard output is written and gone: no file of that name is read.
        if (file->is_standard_output()) {
            outputs.push_back({{"file", "-"}, {"standard_output", true}});
            continue;
        }
        file->flush();
        std::error_code ec;
        const auto size = std::filesystem::file_size(file->temp_path(), ec);
        outputs.push_back({{"file", text_of_bytes(file->path())},
                           {"bytes", ec ? 0 : static_cast<std::uintmax_t>(size)},
                           {"sha256", sha256_of_file(file->temp_path())}});
    }
    j["outputs"] = outputs;
    metadata.write(j.dump(2) + "\n");
}
