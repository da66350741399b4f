#include "run_pincheck.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "temp_dir.h"

extern char** environ;

namespace pinchecktest {

RunResult runPincheck(const std::vector<std::string>& args, const std::string& libraryPath,
                      bool moduleStaysBound) {
    testsupport::TempDir dir;
    const std::string outPath = dir.file("stdout");
    const std::string errPath = dir.file("stderr");

    std::vector<std::string> env;
    std::string asanOptions;
    for (char** e = environ; *e != nullptr; ++e) {
        if (std::strncmp(*e, "LD_LIBRARY_PATH=", 16) == 0) continue;
        if (std::strncmp(*e, "ASAN_OPTIONS=", 13) == 0) {
            asanOptions = *e + 13;
            continue;
        }
        env.emplace_back(*e);
    }
    env.push_back("LD_LIBRARY_PATH=" + libraryPath);
    if (moduleStaysBound)
        asanOptions += (asanOptions.empty() ? "" : ":") + std::string("detect_leaks=0");
    if (!asanOptions.empty()) env.push_back("ASAN_OPTIONS=" + asanOptions);
    std::vector<char*> envp;
    for (auto& e : env) envp.push_back(&e[0]);
    envp.push_back(nullptr);

    std::string program = PINCHECK_BINARY;
    std::vector<std::string> argStore = {program};
    argStore.insert(argStore.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : argStore) argv.push_back(&a[0]);
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, outPath.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errPath.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    pid_t pid = 0;
    const int rc = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) throw std::runtime_error("cannot start " + program + ": " + std::strerror(rc));

    int wstatus = 0;
    while (waitpid(pid, &wstatus, 0) < 0)
        if (errno != EINTR) throw std::runtime_error("waitpid failed");

    RunResult result;
    result.out = testsupport::readFile(outPath);
    result.err = testsupport::readFile(errPath);
    result.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1;
    return result;
}

}  // namespace pinchecktest
