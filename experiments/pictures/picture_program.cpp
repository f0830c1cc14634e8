#include "experiments/pictures/picture_program.h"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <filesystem>

#include "experiments/pictures/install_folders.h"
#include "experiments/planning/road_text.h"
#include "experiments/planning/parameter_text.h"

extern char** environ;

std::string picture_program_path(std::string& searched) {
    namespace fs = std::filesystem;
    searched.clear();
    for (const std::string& folder : running_picture_program_folders()) {
        const fs::path candidate = fs::path(folder) / PICTURE_PROGRAM;
        if (access(candidate.c_str(), X_OK) == 0) return candidate.string();
        searched += (searched.empty() ? "" : ", ") + folder;
    }
    return {};
}

int run_picture_program(const std::vector<std::string>& args, std::string_view input,
                        std::string& error) {
    std::string searched;
    const std::string program = picture_program_path(searched);
    if (program.empty()) {
        error = std::string(PICTURE_PROGRAM) + " not found (looked in " + searched + ")";
        return 1;
    }
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);

    int fds[2];
    if (pipe(fds) != 0) {
        error = std::string("pipe: ") + std::strerror(errno);
        return 1;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[0], STDIN_FILENO);
    posix_spawn_file_actions_addclose(&actions, fds[0]);
    posix_spawn_file_actions_addclose(&actions, fds[1]);
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(fds[0]);
    if (spawned != 0) {
        close(fds[1]);
        error = program + ": " + std::strerror(spawned);
        return 1;
    }
    // A program that stops reading early must not kill this one with SIGPIPE.
    struct sigaction ignore = {}, previous = {};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGPIPE, &ignore, &previous);
    while (!input.empty()) {
        const ssize_t n = write(fds[1], input.data(), input.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        input.remove_prefix(static_cast<std::size_t>(n));
    }
    close(fds[1]);
    sigaction(SIGPIPE, &previous, nullptr);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0)
        if (errno != EINTR) {
            error = program + ": " + std::strerror(errno);
            return 1;
        }
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    error = program + " ended by signal " + std::to_string(WTERMSIG(status));
    return 1;
}

int run_picture_build(int argc, char** argv, std::string& error) {
    std::string searched;
    const std::string program = picture_program_path(searched);
    if (program.empty()) {
        error = std::string(PICTURE_PROGRAM) + " not found (looked in " + searched + ")";
        return 1;
    }
    // argv[0] stays this program's name: the files' headers record it.
    std::vector<char*> args(argv, argv + argc);
    args.push_back(nullptr);
    execv(program.c_str(), args.data());
    error = program + ": " + std::strerror(errno);
    return 1;
}

std::vector<std::string> scenario_arguments(const ScenarioSetup& scenario) {
    std::vector<std::string> args = {"--seed", std::to_string(scenario.seed)};
    if (scenario.startup) args.emplace_back("--startup");
    for (std::size_t i = 0; i < PARAMETER_COUNT; ++i) {
        const ParameterInfo& info = PARAMETER_TABLE[i];
        args.emplace_back("--param");
        args.push_back(std::string(info.name) + "=" +
                       format_value(scenario.parameters.*info.field));
    }
    if (scenario.roads.exitCapacity > 0) {
        args.emplace_back("--exit-capacity");
        args.push_back(std::to_string(scenario.roads.exitCapacity));
    }
    for (const RoadOperation& op : scenario.roads.operations) {
        args.emplace_back(road_option_name(op.action));
        args.push_back(road_operation_text(op));
    }
    return args;
}

std::string plot_format_flag(const std::string& path) {
    if (path.size() < 5) return {};
    std::string ending = path.substr(path.size() - 4);
    for (char& ch : ending) ch = static_cast<char>(ch >= 'A' && ch <= 'Z' ? ch - 'A' + 'a' : ch);
    if (ending == ".png") return "--png";
    if (ending == ".svg") return "--svg";
    return {};
}

int draw_plot(const std::string& title, const std::string& errors, std::string_view curves,
              const std::vector<std::string>& files, const std::vector<std::string>& names,
              std::string& error) {
    std::vector<std::string> args = {"plot", "--title", title, "--errors", errors};
    for (std::size_t i = 0; i < files.size() && i < names.size(); ++i) {
        args.push_back(plot_format_flag(names[i]));
        args.push_back(files[i]);
        // The program writes the temporary file; its messages name the user's.
        args.push_back("--shown-as");
        args.push_back(names[i]);
    }
    return run_picture_program(args, curves, error);
}
