// Generated command lines against the real marovel-sim (its sweeps, merges,
// towns) and the picture program run by hand: valid commands with tokens
// inserted, replaced and mangled from a pool of hostile values, and the files
// they read (parameters, designs, towns, shards, curves) mangled too. Every
// one must end in status 0 (it ran) or 2 (refused with one line on standard
// error, nothing on standard output, no file made or changed); never a crash,
// a hang or a failure while running. A fixed number of cases from a fixed
// seed, so a failure repeats; MAROVEL_FUZZ_CASES and MAROVEL_FUZZ_SEED vary them.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "support/command.h"

namespace {

namespace fs = std::filesystem;

constexpr int DEFAULT_CASES = 150;  // after about 100 systematic ones: 15 s of processor time
constexpr std::uint64_t DEFAULT_SEED = 20261207;

// Commands that run in well under a second; every case starts from one.
const std::vector<std::vector<std::string>> BASES = {
    {"--ticks", "5"},
    {"--ticks", "40", "--every", "7", "--csv"},
    {"--seed", "42", "--ticks", "3", "--fingerprint"},
    {"--scenario", "-2", "--ticks", "9", "--at", "0,9", "--error", "high"},
    {"--ticks", "20", "--until-settled", "--set", "error_spread=100"},
    {"--ticks", "4", "--snapshot", "4:s.png"},
    {"sweep", "--seeds", "1,5", "--ticks", "6", "--errors", "low,high"},
    {"sweep", "--scenarios", "0..2", "--ticks", "5", "--every", "2", "--curves", "c.csv"},
    {"sweep", "--seeds", "3", "--ticks", "4", "--summary", "-", "--shard", "1/2"},
    {"sweep", "--seeds", "1", "--ticks", "3", "--plot", "p.svg", "--no-header"},
    {"sweep", "--seeds", "2", "--ticks", "2", "--shard", "3/3", "--curves", "-"},
    {"params"},
    {"params", "--csv"},
    // The files below inputs/ are mangled afresh for every case (mangle_inputs).
    {"--params", "inputs/p.txt", "--ticks", "3"},
    {"sweep", "--design", "inputs/d.csv", "--ticks", "3", "--summary", "-"},
    {"--town", "inputs/t.town", "--ticks", "5"},
    {"town", "show", "inputs/t.town"},
    {"sweep", "--town", "inputs/t.town", "--seeds", "1", "--ticks", "4", "--summary", "s.csv"},
    {"merge", "s1.csv", "s2.csv", "--summary", "m.csv"},
    {"merge", "c1.csv", "c2.csv", "s1.csv", "s2.csv", "--curves", "mc.csv", "--plot", "m.svg"},
    {"merge", "inputs/s1.csv", "s2.csv", "--summary", "-"},
#if MAROVEL_WITH_PICTURES
    // "@pictures": the picture program, run as a user who found it would.
    {"@pictures", "snapshot", "--ticks", "5", "--seed", "3", "5:pic.png"},
    {"@pictures", "snapshot", "--ticks", "4", "--town", "inputs/t.town", "0:pic.png"},
    {"@pictures", "plot", "--title", "t", "--errors", "low", "--png", "pp.png", "<",
     "inputs/curves.csv"},
#endif
};

// The files the generated commands read, each valid as it is; every case gets
// them mangled anew (or as they are, one time in four).
struct InputFile {
    const char* name;
    std::string text;
};
std::vector<InputFile> valid_inputs(const fs::path& dir) {
    auto read = [](const fs::path& p) {
        return std::string{
            std::istreambuf_iterator<char>(std::ifstream(p, std::ios::binary).rdbuf()), {}};
    };
    return {{"p.txt", "# a parameter file\nerror_spread = 360\ntow_wait = 30\n"},
            {"d.csv", "point,patience_min,fuel_min\n0,200,250\n1,300,350\n"},
            {"t.town", read(dir / "data" / "towns" / "builtin.town")},
            {"s1.csv", read(dir / "s1.csv")},
            {"curves.csv", read(dir / "c1.csv")}};
}

// Byte flips, random bytes, a cut, a line doubled or dropped, a very long line.
std::string mangled(std::string text, std::mt19937_64& rng) {
    auto below = [&](std::size_t n) {
        return n == 0 ? 0 : std::uniform_int_distribution<std::size_t>(0, n - 1)(rng);
    };
    if (below(4) == 0) return text;
    for (std::size_t edits = 1 + below(3); edits > 0; --edits) {
        const std::size_t at = below(text.size() + 1);
        switch (below(6)) {
            case 0:
                if (at < text.size()) text[at] = static_cast<char>(below(256));
                break;
            case 1:
                for (std::size_t n = 1 + below(8); n > 0; --n)
                    text.insert(text.begin() + static_cast<std::ptrdiff_t>(at),
                                static_cast<char>(below(256)));
                break;
            case 2:
                text.resize(at);
                break;
            case 3: {
                const std::size_t from = text.rfind('\n', at == 0 ? 0 : at - 1);
                const std::size_t start = from == std::string::npos ? 0 : from + 1;
                const std::size_t end = text.find('\n', start);
                const std::string line =
                    text.substr(start, end == std::string::npos ? end : end + 1 - start);
                if (below(2) == 0)
                    text.insert(start, line);
                else
                    text.erase(start, line.size());
                break;
            }
            case 4:
                text.insert(at, std::string(100000 + below(1000), "x,1.~+|"[below(7)]));
                break;
            default:
                text.insert(at, "\n");
        }
    }
    return text;
}

void mangle_inputs(const fs::path& dir, const std::vector<InputFile>& inputs,
                   std::mt19937_64& rng) {
    for (const InputFile& f : inputs)
        std::ofstream(dir / "inputs" / f.name, std::ios::binary) << mangled(f.text, rng);
}

// Hostile values by what an option takes; any option may also get any value.
using Pool = std::vector<std::string>;
const Pool NUMBERS = {"0",
                      "1",
                      "3",
                      "7",
                      "-1",
                      "+4",
                      "010",
                      "0x10",
                      "0b11",
                      "1_0",
                      "1e1",
                      "2.5",
                      "",
                      " ",
                      "9223372036854775807",
                      "-9223372036854775808",
                      "99999999999999999999",
                      "16777217",
                      "٣",
                      "-0",
                      "4097"};
const Pool LISTS = {"5..3",       "1..4",   "-3..-1", "1,1",    "1,,2",        ",",
                    "..",         "1..",    "0,9",    "1..3,2", "-2147483648", "2147483647",
                    "2147483648", "1..0x3", "010,10", "7, 8"};
const Pool LEVELS = {"low", "moderate", "high",      "extreme", "low,low", "12.5",
                     "inf", "nan",      "low,,high", "-1",      "0",       "1e400"};
const Pool SHARDS = {"1/2",
                     "2/2",
                     "3/2",
                     "0/0",
                     "1/0",
                     "-1/2",
                     "1/9223372036854775807",
                     "9223372036854775807/9223372036854775807",
                     "6148914691236517206/6148914691236517206",
                     "3074457345618258603/9223372036854775807",
                     "1/2/3",
                     "1//2",
                     "010/012"};
const Pool PATHS = {"-",
                    "out.csv",
                    "./out.csv",
                    "folder",
                    "folder/",
                    "missing/x.csv",
                    "/dev/null",
                    "/dev/stdout",
                    "link.csv",
                    "fifo",
                    "p.png",
                    "./p.png",
                    "q.svg",
                    "a.gif",
                    "params.txt",
                    "missing.txt",
                    std::string(255, 'n'),
                    std::string(256, 'n') + ".csv",
                    "."};
const Pool SNAPSHOTS = {
    "0:a.png",  "3:b.png", "x:a.png", "9:a.jpg", "1:folder/a.png", "99999999:a.png",
    "-1:a.png", "1:",      ":a.png",  "1:fifo",  "010:a.png"};
const Pool SETTINGS = {"error_spread=5", "patience_min=-1", "nonsense=1",   "=",
                       "look_ahead=nan", "feedback=0x1",    "error_spread", "error_spread=1e999",
                       "feedback=0.5"};
const Pool ODD = {"'",         "\"",           "$HOME", "%s%n",   "--",       "-", "---ticks",
                  "--ticks=3", "--frobnicate", "sweep", "params", "\xff\xfe", "-h"};

const std::map<std::string, const Pool*> OPTIONS = {
    {"--seed", &NUMBERS},       {"--scenario", &NUMBERS},     {"--startup", nullptr},
    {"--error", &LEVELS},       {"--ticks", &NUMBERS},        {"--at", &LISTS},
    {"--every", &NUMBERS},      {"--csv", nullptr},           {"--fingerprint", nullptr},
    {"--snapshot", &SNAPSHOTS}, {"--until-settled", nullptr}, {"--set", &SETTINGS},
    {"--params", &PATHS},       {"--seeds", &LISTS},          {"--scenarios", &LISTS},
    {"--errors", &LEVELS},      {"--curves", &PATHS},         {"--summary", &PATHS},
    {"--plot", &PATHS},         {"--shard", &SHARDS},         {"--no-header", nullptr},
    {"--threads", &NUMBERS},    {"--markdown", nullptr},
};

struct Generated {
    std::vector<std::string> words;
    std::string line;  // shell-quoted, for messages and the command
};

std::string shell_quote(const std::string& word) {
    std::string q = "'";
    for (char c : word) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

// A base command with one to four edits: the value of one of its options
// replaced, an option inserted with a value of its kind, an odd word or a few
// random bytes inserted, or a word removed.
Generated generate(std::mt19937_64& rng) {
    auto below = [&](std::size_t n) {
        return std::uniform_int_distribution<std::size_t>(0, n - 1)(rng);
    };
    auto pick = [&](const Pool& pool) { return pool[below(pool.size())]; };
    const Pool* all[] = {&NUMBERS, &LISTS, &LEVELS, &SHARDS, &PATHS, &SNAPSHOTS, &SETTINGS, &ODD};
    auto value_for = [&](const Pool* kind) {
        return kind != nullptr && below(5) != 0 ? pick(*kind) : pick(*all[below(std::size(all))]);
    };
    Generated g;
    g.words = BASES[below(BASES.size())];
    const std::size_t edits = 1 + below(4);
    for (std::size_t e = 0; e < edits; ++e) {
        const std::size_t at = below(g.words.size() + 1);
        switch (below(6)) {
            case 0:
            case 1:
            case 2: {  // a new value for an option already there
                std::vector<std::size_t> values;
                for (std::size_t i = 0; i + 1 < g.words.size(); ++i)
                    if (const auto o = OPTIONS.find(g.words[i]); o != OPTIONS.end() && o->second)
                        values.push_back(i + 1);
                if (values.empty()) break;
                const std::size_t i = values[below(values.size())];
                g.words[i] = value_for(OPTIONS.at(g.words[i - 1]));
                break;
            }
            case 3: {  // another option, with a value of its kind
                auto o = OPTIONS.begin();
                std::advance(o, static_cast<std::ptrdiff_t>(below(OPTIONS.size())));
                std::vector<std::string> words = {o->first};
                if (o->second != nullptr) words.push_back(value_for(o->second));
                g.words.insert(g.words.begin() + static_cast<std::ptrdiff_t>(at), words.begin(),
                               words.end());
                break;
            }
            case 4: {  // an odd word, or a few random bytes
                std::string token = pick(ODD);
                if (below(2) == 0) {
                    token.clear();
                    for (std::size_t n = 1 + below(6); n > 0; --n)
                        token += static_cast<char>(1 + below(255));
                }
                g.words.insert(g.words.begin() + static_cast<std::ptrdiff_t>(at), token);
                break;
            }
            default:
                if (at < g.words.size())
                    g.words.erase(g.words.begin() + static_cast<std::ptrdiff_t>(at));
        }
    }
    for (const std::string& w : g.words) {
        g.line += ' ';
        g.line += shell_quote(w);
    }
    return g;
}

// Every file in the folder with its bytes, to see that a refusal changed
// nothing. The pictures in data/, which no generated name reaches, and the
// mangled inputs/, which are remade for every case, are left out.
std::map<std::string, std::string> snapshot_of(const fs::path& dir) {
    std::map<std::string, std::string> files;
    for (auto it = fs::recursive_directory_iterator(dir); it != fs::recursive_directory_iterator();
         ++it) {
        const fs::directory_entry& e = *it;
        if (e.path().filename() == "data" || e.path().filename() == "inputs")
            it.disable_recursion_pending();
        std::string content = e.is_symlink() ? "link" : e.is_regular_file() ? "" : "other";
        if (e.is_regular_file() && !e.is_symlink())
            content = {std::istreambuf_iterator<char>(std::ifstream(e.path()).rdbuf()), {}};
        files[e.path().lexically_relative(dir)] = content;
    }
    return files;
}

// Removes what a run made and puts back what it replaced.
void restore(const fs::path& dir, const std::map<std::string, std::string>& before) {
    std::vector<fs::path> made;
    for (auto it = fs::recursive_directory_iterator(dir); it != fs::recursive_directory_iterator();
         ++it) {
        if (it->path().filename() == "data" || it->path().filename() == "inputs")
            it.disable_recursion_pending();
        if (!before.contains(it->path().lexically_relative(dir))) made.push_back(it->path());
    }
    for (const fs::path& p : made) fs::remove_all(p);
    for (const auto& [name, content] : snapshot_of(dir))
        if (content != before.at(name)) std::ofstream(dir / name) << before.at(name);
}

// First every value of every kind once, through one option of that kind in a
// command that runs with any good value: a value that fails alone shows here.
std::vector<Generated> every_value_once() {
    const std::pair<std::vector<std::string>, const Pool*> uses[] = {
        {{"--ticks"}, &NUMBERS},
        {{"sweep", "--ticks", "3", "--seeds"}, &LISTS},
        {{"sweep", "--seeds", "1", "--ticks", "3", "--errors"}, &LEVELS},
        {{"sweep", "--seeds", "1", "--ticks", "3", "--plot", "p.png", "--shard"}, &SHARDS},
        {{"sweep", "--seeds", "1", "--ticks", "3", "--summary"}, &PATHS},
        {{"--ticks", "5", "--snapshot"}, &SNAPSHOTS},
        {{"--ticks", "5", "--set"}, &SETTINGS},
#if MAROVEL_WITH_PICTURES
        {{"@pictures", "plot", "--title", "t", "--png", "pp.png", "<", "inputs/curves.csv",
          "--errors"},
         &LEVELS},
#endif
    };
    std::vector<Generated> cases;
    for (const auto& [words, pool] : uses)
        for (const std::string& value : *pool) {
            Generated g;
            g.words = words;
            g.words.push_back(value);
            for (const std::string& w : g.words) {
                g.line += ' ';
                g.line += shell_quote(w);
            }
            cases.push_back(g);
        }
    return cases;
}

TEST(ArgumentFuzz, EveryCommandLineRunsOrIsRefusedCleanly) {
    const char* casesText = std::getenv("MAROVEL_FUZZ_CASES");
    const char* seedText = std::getenv("MAROVEL_FUZZ_SEED");
    const int cases = casesText != nullptr ? std::atoi(casesText) : DEFAULT_CASES;
    std::mt19937_64 rng(seedText != nullptr ? std::strtoull(seedText, nullptr, 10) : DEFAULT_SEED);

    const fs::path dir = mkdtemp(std::string("/tmp/marovel-fuzz-XXXXXX").data());
    fs::copy(MAROVEL_SOURCE_DATA, dir / "data");
    fs::create_directory(dir / "folder");
    std::ofstream(dir / "out.csv") << "an earlier output\n";
    std::ofstream(dir / "target.csv") << "what the link points to\n";
    std::ofstream(dir / "params.txt") << "# a parameter file\nerror_spread = 360\n";
    fs::create_symlink("target.csv", dir / "link.csv");
    ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0600), 0);
    // Two shards of a sweep, for the merges; then the inputs to mangle.
    for (const char* shard : {"1", "2"})
        ASSERT_EQ(
            run_command("cd '" + dir.string() +
                        "' && '" MAROVEL_SIM "' sweep --seeds 1,2 --ticks 12 --every 5 --shard " +
                        std::string(shard) + "/2 --curves c" + shard + ".csv --summary s" + shard +
                        ".csv")
                .status,
            0);
    fs::create_directory(dir / "inputs");
    const std::vector<InputFile> inputs = valid_inputs(dir);
    std::mt19937_64 files(rng());
    const auto before = snapshot_of(dir);

    std::map<int, int> statuses;
    const std::vector<Generated> systematic = every_value_once();
    const int total = static_cast<int>(systematic.size()) + cases;
    for (int i = 0; i < total; ++i) {
        const Generated g = i < static_cast<int>(systematic.size())
                                ? systematic[static_cast<std::size_t>(i)]
                                : generate(rng);
        if (std::getenv("MAROVEL_FUZZ_SHOW") != nullptr) std::printf("%d:%s\n", i, g.line.c_str());
        // The systematic cases read the inputs as they are; the generated ones mangled.
        if (i < static_cast<int>(systematic.size()))
            for (const InputFile& f : inputs)
                std::ofstream(dir / "inputs" / f.name, std::ios::binary) << f.text;
        else
            mangle_inputs(dir, inputs, files);
        // The picture program when the command starts with "@pictures"; "<
        // inputs/curves.csv" gives standard input that file.
        std::string program = "'" MAROVEL_SIM "'", line, input = "/dev/null";
        for (std::size_t w = 0; w < g.words.size(); ++w) {
            if (w == 0 && g.words[w] == "@pictures") {
                program = "'" MAROVEL_PICTURES "'";
            } else if (g.words[w] == "<" && w + 1 < g.words.size() &&
                       g.words[w + 1] == "inputs/curves.csv") {
                input = shell_quote(g.words[++w]);
            } else {
                line += ' ';
                line += shell_quote(g.words[w]);
            }
        }
        const CommandResult r =
            run_command("cd '" + dir.string() + "' && exec timeout 60 env -u DISPLAY " + program +
                        line + " <" + input);
        ++statuses[r.status];
        ASSERT_TRUE(r.status == 0 || r.status == 2)
            << "case " << i << ": status " << r.status << " for" << g.line << "\n"
            << r.err;
        if (r.status == 2) {
            EXPECT_EQ(r.out, "") << "case " << i << ":" << g.line;
            EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1)
                << "case " << i << ":" << g.line << "\n"
                << r.err;
            ASSERT_EQ(snapshot_of(dir), before) << "case " << i << ":" << g.line;
        }
        restore(dir, before);  // for the next case
    }
    fs::remove_all(dir);
    // Both outcomes were reached, so the cases were neither all refused nor all run.
    EXPECT_GT(statuses[0], total / 10);
    EXPECT_GT(statuses[2], total / 10);
}

}  // namespace
