// The floating-point overloads of std::from_chars and std::to_chars, which the
// C++ library of the WebAssembly toolchain lacks, written over strtod and
// snprintf with the same results for what the model's texts read and write:
// from_chars takes no leading blank or '+', only decimal digits (or inf, nan)
// and reports a value beyond the type as out of range, leaving it untouched;
// to_chars writes the shortest digits that read back to the same value, in
// plain or exponent form, whichever is shorter (plain on a tie).
// Included before every source of the web build, and only there.
#pragma once

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace marovel_charconv {

// The length of the longest decimal number at the start of [first, last).
inline std::size_t decimal_length(const char* first, const char* last, bool& nonzero) {
    const char* p = first;
    if (p != last && *p == '-') ++p;
    const auto word = [&](const char* w) {
        const std::size_t n = std::strlen(w);
        if (static_cast<std::size_t>(last - p) < n) return false;
        for (std::size_t i = 0; i < n; ++i)
            if ((p[i] | 0x20) != w[i]) return false;
        return true;
    };
    nonzero = true;
    if (word("infinity")) return static_cast<std::size_t>(p + 8 - first);
    if (word("inf") || word("nan")) return static_cast<std::size_t>(p + 3 - first);
    nonzero = false;
    bool digits = false;
    for (; p != last && *p >= '0' && *p <= '9'; ++p) digits = true, nonzero |= *p != '0';
    if (p != last && *p == '.')
        for (++p; p != last && *p >= '0' && *p <= '9'; ++p) digits = true, nonzero |= *p != '0';
    if (!digits) return 0;
    if (p != last && (*p == 'e' || *p == 'E')) {
        const char* e = p + 1;
        if (e != last && (*e == '+' || *e == '-')) ++e;
        if (e != last && *e >= '0' && *e <= '9') {
            while (e != last && *e >= '0' && *e <= '9') ++e;
            p = e;
        }
    }
    return static_cast<std::size_t>(p - first);
}

template <class T>
std::from_chars_result parse(const char* first, const char* last, T& value) {
    bool nonzero = false;
    const std::size_t n = decimal_length(first, last, nonzero);
    if (n == 0) return {first, std::errc::invalid_argument};
    const std::string text(first, n);
    errno = 0;
    const double v = std::strtod(text.c_str(), nullptr);
    const T t = static_cast<T>(v);
    const bool infinite = text.find_first_of("iInN") == std::string::npos && std::isinf(t);
    if (infinite || (nonzero && t == 0 && text.find_first_of("iInN") == std::string::npos))
        return {first + n, std::errc::result_out_of_range};
    value = std::is_same_v<T, float> ? std::strtof(text.c_str(), nullptr) : t;
    return {first + n, std::errc()};
}

template <class T>
std::to_chars_result format(char* first, char* last, T value) {
    char text[64];
    if (std::isnan(value)) {
        std::snprintf(text, sizeof text, "%s", std::signbit(value) ? "-nan" : "nan");
    } else if (std::isinf(value)) {
        std::snprintf(text, sizeof text, "%s", value < 0 ? "-inf" : "inf");
    } else if (value == 0) {
        std::snprintf(text, sizeof text, "%s", std::signbit(value) ? "-0" : "0");
    } else {
        // The fewest significant digits that read back to the value.
        const int most = std::is_same_v<T, float> ? 9 : 17;
        char sci[64];
        for (int digits = 1; digits <= most; ++digits) {
            std::snprintf(sci, sizeof sci, "%.*e", digits - 1, static_cast<double>(value));
            const T back = std::is_same_v<T, float> ? std::strtof(sci, nullptr)
                                                    : static_cast<T>(std::strtod(sci, nullptr));
            if (back == value) break;
        }
        // sci: [-]d[.ddd]e(+|-)XX; the digits and the exponent, then the plain form.
        std::string s(sci);
        const bool negative = s[0] == '-';
        if (negative) s.erase(0, 1);
        const std::size_t e = s.find('e');
        const int exponent = std::atoi(s.c_str() + e + 1);
        std::string digitText = s.substr(0, e);
        if (digitText.size() > 1) digitText.erase(1, 1);
        const int count = static_cast<int>(digitText.size());
        std::string plain;
        if (exponent >= count - 1)
            plain = digitText + std::string(static_cast<std::size_t>(exponent - count + 1), '0');
        else if (exponent >= 0)
            plain = digitText.substr(0, static_cast<std::size_t>(exponent + 1)) + "." +
                    digitText.substr(static_cast<std::size_t>(exponent + 1));
        else
            plain = "0." + std::string(static_cast<std::size_t>(-exponent - 1), '0') + digitText;
        const std::string& shortest = plain.size() <= s.size() ? plain : s;
        std::snprintf(text, sizeof text, "%s%s", negative ? "-" : "", shortest.c_str());
    }
    const std::size_t n = std::strlen(text);
    if (static_cast<std::size_t>(last - first) < n) return {last, std::errc::value_too_large};
    std::memcpy(first, text, n);
    return {first + n, std::errc()};
}

}  // namespace marovel_charconv

namespace std {
inline from_chars_result from_chars(const char* first, const char* last, double& value) {
    return marovel_charconv::parse(first, last, value);
}
inline from_chars_result from_chars(const char* first, const char* last, float& value) {
    return marovel_charconv::parse(first, last, value);
}
inline to_chars_result to_chars(char* first, char* last, double value) {
    return marovel_charconv::format(first, last, value);
}
inline to_chars_result to_chars(char* first, char* last, float value) {
    return marovel_charconv::format(first, last, value);
}
}  // namespace std
