// Text helpers that the design's source files share (design.cpp,
// samplers.cpp and design_file.cpp); defined in design.cpp.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "sim/parameters.h"

namespace design_text {

// `s` between double quotes, for messages.
std::string quoted(std::string_view s);

// A value of the parameter as the user typed it, checked against its range and
// kind. Error text or empty.
std::string parse_value(const ParameterInfo& info, std::string_view text, double& value);

// One CSV line split at commas (no quoting: design cells are names and numbers).
std::vector<std::string_view> split_cells(std::string_view line);

}  // namespace design_text
