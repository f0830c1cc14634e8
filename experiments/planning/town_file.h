// A town from a file: only a regular file is read (a FIFO or a device is
// refused at once, never waited on), and no more of it than the largest town
// needs; then parsed and checked. Every refusal is one line naming the file,
// and the line and column where the text is at fault.
#pragma once

#include <memory>
#include <string>

#include "sim/town.h"

// The town in `path`, or false with "PATH:LINE:COLUMN: what" (or "PATH: what")
// in `error`. Unless `parsedOnly`, a town with errors (validate_town) is
// refused with the first of them.
bool read_town_file(const std::string& path, Town& town, std::string& error,
                    bool parsedOnly = false);

// The zones in `path` (a zones layer on its own: `C = NAME` lines, then a row
// per town row) laid over `town`, replacing its zones; false with the error as
// read_town_file gives it, and the town unchanged.
bool read_zones_file(const std::string& path, Town& town, std::string& error);

// The same, shared read-only, or null with the reason in `error`.
std::shared_ptr<const Town> load_town(const std::string& path, std::string& error);
