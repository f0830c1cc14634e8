// The model's parameters as text: "name=value" assignments, parameter files,
// the lines that record them in output files, and the parameter table printed
// by `marovel-sim params` and written into the model document. Everything here
// reads the one table in sim/parameters.h.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "sim/parameters.h"

// Text the user gave, as a message shows it: between double quotes, each
// control character, quote, backslash and byte outside printable ASCII
// written as \n, \t, \", \\ or \xHH, and cut after `limit` bytes of the text
// with "..." after them. Every refusal that echoes input shows it this way, so
// that a message stays one short line whatever it was given.
std::string quote_input(std::string_view text, std::size_t limit = 80);

// A whole message made safe to print as one line: control characters and bytes
// outside printable ASCII escaped as quote_input does (quotes and backslashes
// left as they are), and cut after `limit` bytes with "...". For messages
// whose parts were not all quoted (a library's, naming what it was given).
std::string one_line(std::string_view message, std::size_t limit = 1000);

// A file's name in a message: as it is when it is short and printable (so that
// "f.csv:3:2: ..." reads as usual), else as quote_input shows it.
std::string file_name_text(std::string_view path);

// Reads the file at `path` whole into `text`, if it is a regular file of at
// most `maxBytes` bytes. Anything else is refused without waiting for it (a
// FIFO, a device such as /dev/zero, a folder): the file is opened without
// blocking and looked at before anything is read. Returns the refusal, naming
// the file, or empty text.
std::string read_regular_file(const std::string& path, std::size_t maxBytes, std::string& text);

// The longest parameter file, and line of one, that is read.
constexpr std::size_t MAX_PARAMETER_FILE_BYTES = std::size_t(1) << 20;
constexpr std::size_t MAX_PARAMETER_LINE_BYTES = 4096;

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
