// Whole numbers as a user types them: decimal only, everywhere. "010" is ten,
// not eight; "0x10", "0b1010", "1_0", "1e3" and "12abc" are not numbers.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// Parses an optional sign and one or more decimal digits, nothing else (no
// spaces). Returns an error text naming the text and what is wrong with it
// (not a decimal integer, or outside lo..hi), or empty with `value` set.
std::string parse_decimal(std::string_view text, std::int64_t lo, std::int64_t hi,
                          std::int64_t& value);
