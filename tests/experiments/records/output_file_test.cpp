// Output files: what may be replaced, which names are one file, a set replaced
// whole or not at all, the permissions a user expects, and no temporary file
// left by a signal or, after the next run, by a kill.
#include "experiments/records/output_file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

std::string read_file(const fs::path& path) {
    return {std::istreambuf_iterator<char>(std::ifstream(path, std::ios::binary).rdbuf()), {}};
}

class OutputFiles : public ::testing::Test {
  protected:
    ~OutputFiles() override { fs::remove_all(dir, ignored); }
    std::string at(const std::string& name) const { return (dir / name).string(); }
    void put(const std::string& name, const std::string& text) const {
        std::ofstream(dir / name, std::ios::binary) << text;
    }
    std::set<std::string> entries() const {
        std::set<std::string> names;
        for (const auto& e : fs::directory_iterator(dir)) names.insert(e.path().filename());
        return names;
    }
    const fs::path dir = mkdtemp(std::string("/tmp/marovel-output-XXXXXX").data());
    std::error_code ignored;
};

// Renaming over a device node, a FIFO or a link would replace the node or the
// link, not write to what it stands for. Each refusal names the path and the reason.
TEST_F(OutputFiles, NamesThatAreNotPlainFilesAreRefusedAndLeftAsTheyWere) {
    fs::create_directories(dir / "folder");
    put("target.csv", "kept\n");
    put("plain", "x");
    fs::create_symlink("target.csv", dir / "link.csv");
    fs::create_symlink("nowhere.csv", dir / "dangling.csv");
    ASSERT_EQ(mkfifo(at("fifo").c_str(), 0600), 0);
    const std::set<std::string> before = entries();
    const std::pair<std::string, std::string> cases[] = {
        {"/dev/null", "it is a device"},
        {at("fifo"), "it is a FIFO"},
        {at("link.csv"), "it is a symbolic link"},
        {at("dangling.csv"), "it is a symbolic link"},
        {at("folder"), "it is a folder"},
        {at("folder/"), "it is a folder"},
        {at("folder/.."), "it is a folder"},
        {at("missing/x.csv"), "No such file or directory"},
        {at("plain/x.csv"), "is not a folder"},
        {at(std::string(256, 'n')), "File name too long"},
        {"", "an empty file name"},
    };
    for (const auto& [path, why] : cases) {
        OutputFile f;
        std::string error;
        EXPECT_FALSE(f.create(path, error)) << path;
        EXPECT_NE(error.find(path), std::string::npos) << error;
        EXPECT_NE(error.find(why), std::string::npos) << error;
    }
    EXPECT_EQ(entries(), before);
    EXPECT_TRUE(fs::is_symlink(dir / "link.csv") && read_file(dir / "target.csv") == "kept\n");
    struct stat st = {};
    EXPECT_TRUE(::stat("/dev/null", &st) == 0 && S_ISCHR(st.st_mode));
}

// New files get what the umask gives any new file, not the private mode of a
// temporary file; a name of the file system's longest length can be written.
TEST_F(OutputFiles, PermissionsFollowTheUmaskAndTheLongestNamesAreWritten) {
    for (const auto& [mask, mode] :
         {std::pair<mode_t, mode_t>{022, 0644}, {077, 0600}, {002, 0664}, {027, 0640}}) {
        const mode_t previous = ::umask(mask);
        OutputFile f;
        std::string error;
        const bool made = f.create(at("m.csv"), error);
        f.write("x");
        const bool committed = made && f.commit(error);
        ::umask(previous);
        ASSERT_TRUE(committed) << error;
        struct stat st = {};
        ASSERT_EQ(::stat(at("m.csv").c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, mode) << std::oct << mask;
        fs::remove(dir / "m.csv");
    }
    // 255 bytes, several of them in two-byte characters where the temporary
    // name is cut; 200 is the last length the temporary name carries whole.
    std::string accented;
    while (accented.size() < 251) accented += "\xc3\xa9";
    for (const std::string& name :
         {std::string(255, 'a'), accented.substr(0, 251) + ".csv", std::string(200, 'b')}) {
        OutputFile f;
        std::string error;
        ASSERT_TRUE(f.create(at(name), error)) << error;
        EXPECT_LE(fs::path(f.temp_path()).filename().string().size(), 255u);
        f.write(name);
        ASSERT_TRUE(f.commit(error)) << error;
        EXPECT_EQ(read_file(dir / name), name);
        EXPECT_EQ(entries(), std::set<std::string>{name});
        fs::remove(dir / name);
    }
}

// Two names are one file when they lead to the same file, whatever the links,
// folders or spelling; "-" (standard output) may come once.
TEST_F(OutputFiles, OneFileNamedTwiceIsFoundByWhatItIs) {
    fs::create_directories(dir / "real");
    fs::create_symlink("real", dir / "via");
    put("real/old.csv", "x");
    fs::create_hard_link(dir / "real/old.csv", dir / "hard.csv");
    const std::vector<std::vector<std::string>> same = {
        {at("x.csv"), at("./x.csv")},
        {at("real/x.csv"), at("via/x.csv")},
        {at("real/old.csv"), at("via/old.csv")},
        {at("real/old.csv"), at("hard.csv")},
        {at("a.csv"), at("real/../a.csv")},
        {"-", at("b.csv"), "-"},
    };
    for (const auto& names : same)
        EXPECT_NE(find_repeated_output(names), "") << names[0] << " " << names[1];
    EXPECT_EQ(find_repeated_output({at("x.csv"), at("real/x.csv"), at("X.csv"), "-", at("-")}), "");
    EXPECT_EQ(find_repeated_output({at("x.csv"), at("./x.csv")}),
              at("./x.csv") + " names the same file as " + at("x.csv"));
}

// File i of a set gets (i + 1) units of bytes: more than the write buffer
// holds, so a failure shows in a write itself and not only when flushing.
constexpr std::size_t UNIT = 100000;

// Writes `bytes` to every file and commits them together under a file-size
// limit of `limit` bytes (SIGXFSZ ignored, so writes fail with EFBIG instead).
bool commit_under_limit(const std::vector<std::string>& paths, const std::string& bytes,
                        rlim_t limit, std::string& error) {
    std::vector<OutputFile> files(paths.size());
    std::vector<OutputFile*> set;
    for (std::size_t i = 0; i < paths.size(); ++i) {
        if (!files[i].create(paths[i], error)) return false;
        set.push_back(&files[i]);
    }
    struct rlimit previous = {};
    ::getrlimit(RLIMIT_FSIZE, &previous);
    auto* const oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit limited = previous;
    limited.rlim_cur = limit;
    ::setrlimit(RLIMIT_FSIZE, &limited);
    for (std::size_t i = 0; i < paths.size(); ++i) files[i].write(bytes.substr(0, UNIT * (i + 1)));
    const bool ok = commit_together(set, error);
    ::setrlimit(RLIMIT_FSIZE, &previous);
    std::signal(SIGXFSZ, oldHandler);
    return ok;
}

// Every file complete and flushed before the first is renamed: a file that
// cannot be completed leaves every old file, and the message names it and why.
TEST_F(OutputFiles, ASetIsReplacedWholeOrNotAtAll) {
    const std::vector<std::string> paths = {at("a.csv"), at("b.csv"), at("c.csv")};
    const std::string bytes(3 * UNIT, 'n');
    for (const rlim_t limit : {rlim_t{0}, rlim_t{1}, UNIT - 1, UNIT, 2 * UNIT - 1, 3 * UNIT - 1}) {
        for (const auto& p : paths) put(fs::path(p).filename(), "old");
        std::string error;
        EXPECT_FALSE(commit_under_limit(paths, bytes, limit, error));
        const std::string failed = limit < UNIT ? "a.csv" : limit < 2 * UNIT ? "b.csv" : "c.csv";
        EXPECT_NE(error.find("could not write " + at(failed) + ": File too large"),
                  std::string::npos)
            << error;
        EXPECT_NE(error.find("no output was replaced"), std::string::npos) << error;
        for (const auto& p : paths) EXPECT_EQ(read_file(p), "old") << limit;
        EXPECT_EQ(entries(), (std::set<std::string>{"a.csv", "b.csv", "c.csv"}));
    }
    std::string error;
    ASSERT_TRUE(commit_under_limit(paths, bytes, 3 * UNIT, error)) << error;
    for (std::size_t i = 0; i < paths.size(); ++i)
        EXPECT_EQ(read_file(paths[i]), bytes.substr(0, UNIT * (i + 1)));
    EXPECT_EQ(entries(), (std::set<std::string>{"a.csv", "b.csv", "c.csv"}));
}

// A run killed outright leaves its temporary files; the next run writing the
// same name removes them (or, resuming, finds and keeps them), but not those of
// another name or of a run still writing (which holds a lock on its file).
TEST_F(OutputFiles, TheNextRunRemovesOnlyItsOwnStaleTemporaries) {
    const std::string longName(255, 'l');
    for (const std::string& name : {std::string("x.csv"), longName}) {
        OutputFile live;
        std::string error;
        ASSERT_TRUE(live.create(at(name), error)) << error;
        const std::string liveTemp = fs::path(live.temp_path()).filename();
        // A stale file looks exactly like a live one, but for the lock.
        std::string stale = liveTemp;
        stale.replace(stale.size() - 11, 6, "Zz9Zz9");
        put(stale, "left by a killed run");
        put(".y.csv.Zz9Zz9.part", "another output's");
        put(".x.csv.Zz9.part", "not a temporary name");

        // A resumed sweep finds the stale one only, and keeps it while making its own.
        const std::vector<std::string> found = stale_temporaries(at(name));
        ASSERT_EQ(found.size(), 1u);
        EXPECT_EQ(fs::path(found[0]).filename(), stale);
        {
            OutputFile resumed;
            ASSERT_TRUE(resumed.create(at(name), error, true)) << error;
            EXPECT_EQ(entries().count(stale), 1u);
            EXPECT_EQ(stale_temporaries(at(name)), found);
        }

        OutputFile next;
        ASSERT_TRUE(next.create(at(name), error)) << error;
        const std::set<std::string> seen = entries();
        EXPECT_EQ(seen.count(stale), 0u) << stale;
        EXPECT_EQ(seen.count(liveTemp), 1u);
        EXPECT_EQ(seen.count(".y.csv.Zz9Zz9.part") + seen.count(".x.csv.Zz9.part"), 2u);
        next.write("next");
        live.write("live");
        EXPECT_TRUE(next.commit(error) && live.commit(error)) << error;
        EXPECT_EQ(read_file(at(name)), "live");
        fs::remove(dir / name);
        EXPECT_EQ(entries(), (std::set<std::string>{".y.csv.Zz9Zz9.part", ".x.csv.Zz9.part"}));
        fs::remove(dir / ".y.csv.Zz9Zz9.part");
        fs::remove(dir / ".x.csv.Zz9.part");
    }
}

// A child that makes two outputs and is then sent `sig`; it commits them if it
// lives on. Returns the raw wait status.
int child_sent(int sig, bool ignoredAtStart, const std::string& a, const std::string& b) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (ignoredAtStart) std::signal(sig, SIG_IGN);
        remove_partial_files_on_signal();
        OutputFile x, y;
        std::string error;
        if (!x.create(a, error) || !y.create(b, error)) ::_exit(3);
        x.write("x");
        ::kill(::getpid(), sig);
        y.write("y");
        ::_exit(commit_together({&x, &y}, error) ? 0 : 4);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return status;
}

// The signals that end a run remove its temporary files and end it by the same
// signal (so its caller sees why); one the program was started with ignored
// (nohup's SIGHUP, a file-size limit's SIGXFSZ) stays ignored, but an ignored
// SIGINT or SIGTERM, as a background job gets, still ends it.
TEST_F(OutputFiles, EndingSignalsRemoveTemporariesAndIgnoredOnesStayIgnored) {
    for (const int sig :
         {SIGINT, SIGTERM, SIGHUP, SIGPIPE, SIGALRM, SIGUSR1, SIGUSR2, SIGXCPU, SIGXFSZ}) {
        for (const bool atStart : {false, true}) {
            const int status = child_sent(sig, atStart, at("x.csv"), at("y.csv"));
            const bool ends = !atStart || sig == SIGINT || sig == SIGTERM;
            if (ends) {
                EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == sig) << sig << " " << status;
                EXPECT_EQ(entries(), std::set<std::string>{}) << sig;
            } else {
                EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << sig;
                EXPECT_EQ(entries(), (std::set<std::string>{"x.csv", "y.csv"})) << sig;
            }
            fs::remove(dir / "x.csv");
            fs::remove(dir / "y.csv");
        }
    }
}

// "-" is standard output: nothing reaches it before the commit, then all of it,
// whether written through the file or by a writer that opens it by name.
TEST_F(OutputFiles, DashIsStandardOutputWrittenAtTheCommit) {
    const int saved = ::dup(STDOUT_FILENO);
    const int sink = ::open(at("stdout").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ASSERT_TRUE(saved >= 0 && sink >= 0);
    std::fflush(stdout);
    ::dup2(sink, STDOUT_FILENO);
    std::string error;
    std::uintmax_t before = 1;
    bool committed = true;
    for (const bool byName : {false, true}) {
        OutputFile out, file;
        committed = committed && out.create("-", error) && file.create(at("f.csv"), error);
        if (byName)
            std::ofstream(out.temp_path()) << "opened by name";
        else
            out.write("written, ");
        file.write("file");
        if (!byName) before = fs::file_size(dir / "stdout");
        committed = committed && out.is_standard_output() && commit_together({&out, &file}, error);
    }
    std::fflush(stdout);
    ::dup2(saved, STDOUT_FILENO);
    ::close(saved);
    ::close(sink);
    ASSERT_TRUE(committed) << error;
    EXPECT_EQ(before, 0u);
    EXPECT_EQ(read_file(dir / "stdout"), "written, opened by name");
    EXPECT_EQ(read_file(dir / "f.csv"), "file");
    EXPECT_FALSE(fs::exists("-"));
}

}  // namespace
