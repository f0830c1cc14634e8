// The model's parameters as text: "name=value" assignments, parameter files,
// the lines that record them in output files, and the parameter table printed
// by `marovel-sim params` and written into the model document. Everything here
// reads the one table in sim/parameters.h.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "sim/parameters.h"

// A decimal number: optional sign, digits, point, exponent, or "inf". No hex,
// no octal, no digit separators. False for anything else.
bool parse_decimal(std::string_view text, double& value);

// `s` without its leading and trailing blanks and tabs (and a trailing carriage return).
std::string_view trim(std::string_view s);

// Applies "name=value" (spaces around either allowed) to `p`. Returns the
// reason it was refused, naming the parameter, the value and what is allowed,
// or empty text. A refused assignment leaves `p` as it was. Rules between
// values (a minimum above its maximum) are checked by check_parameters once
// every assignment has been made.
std::string apply_assignment(ModelParameters& p, std::string_view assignment);

// Applies a parameter file: one "name = value" a line, '#' starts a comment,
// blank lines allowed. Refusals name the file and line. All or nothing.
std::string apply_parameter_file(ModelParameters& p, const std::string& path);

// An error spread as the user writes it: "low", "moderate", "high" or a
// decimal number >= 0 ("inf" is the high level). Returns the reason it was
// refused, or empty text; `spread` is the value the model is given.
std::string parse_error_spread(std::string_view text, double& spread);

// "low", "moderate", "high" for the three levels, else the number.
std::string error_spread_text(double spread);

// The shortest text that reads back to the same double ("360", "0.005", "inf").
std::string format_value(double value);

// A parameter's value as text that reads back to it (the error spread as its float).
std::string format_parameter(const ParameterInfo& info, double value);

// Names and values of the parameters that differ from their defaults, in table order.
std::vector<std::pair<std::string, std::string>> changed_parameters(const ModelParameters& p);

// "# parameter NAME = VALUE" lines (with `prefix` for "# "), one per changed parameter.
std::string changed_parameter_lines(const ModelParameters& p, std::string_view prefix = "# ");

// The parameter table: aligned text, CSV (name,default,unit,min,max,kind,meaning)
// and a Markdown table for the model document.
std::string parameter_table_text();
std::string parameter_table_csv();
std::string parameter_table_markdown();
