// The temporary files behind output_file.cpp, shared with
// output_temporaries.cpp, which defines them.
#pragma once

#include <string>
#include <vector>

namespace output_temporaries {

constexpr const char* TEMP_SUFFIX = ".part";

// An entry in the list of temporary files that an ending signal removes: the
// slot's number, or -1 when the list is full or the path too long.
int claim_slot(const std::string& path);
void release_slot(int slot);  // harmless for -1

// While a set of files is renamed into place, a signal is only noted; the end
// of the window acts on one noted meanwhile.
void begin_commit_window();
void end_commit_window();

struct SplitPath {
    std::string folder;  // "." for a bare name
    std::string name;    // empty when the path ends in '/'
};
SplitPath split_path(const std::string& path);

// The part of a name its temporary files carry (the name itself, or for a long
// one its start and a hash of the whole).
std::string temp_stem(const std::string& name);
std::string join(const std::string& folder, const std::string& name);

// The temporary files of `stem` in `folder` that no live run holds; with
// `remove` they are removed.
std::vector<std::string> stale_files(const std::string& folder, const std::string& stem,
                                     bool remove);

// Makes and locks a new temporary file from the mkstemps pattern; the
// descriptor, or -1 with errno set.
int make_locked_temporary(std::string& temp, const std::string& pattern);

}  // namespace output_temporaries
