// Starting a file with its default action on POSIX systems: posix_spawn, or xdg-open.
#include "platform/ProcessLauncher.h"

#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <thread>
#include <vector>

extern char** environ;

bool StartWithDefaultAction(const std::string& path, std::chrono::milliseconds wait)
{
    struct stat st {};
    if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return false;
    const bool executable = access(path.c_str(), X_OK) == 0 && (st.st_mode & 0111);
    std::vector<std::string> args =
        executable ? std::vector<std::string>{path} : std::vector<std::string>{"xdg-open", path};
    std::vector<char*> argv;
    argv.reserve(args.size() + 1);
    for (auto& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    // The installer starts in its own folder, so that it finds the files
    // beside it ("setup.ini", its cabinets) by their names alone.
    posix_spawn_file_actions_t actions;
    if (posix_spawn_file_actions_init(&actions) != 0)
        return false;
    const std::size_t slash = path.rfind('/');
    const std::string folder =
        slash == std::string::npos ? std::string(".") : path.substr(0, std::max<std::size_t>(slash, 1));
    pid_t pid = 0;
    const bool spawned = posix_spawn_file_actions_addchdir_np(&actions, folder.c_str()) == 0 &&
                         posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0;
    posix_spawn_file_actions_destroy(&actions);
    if (!spawned)
        return false;
    const auto deadline = std::chrono::steady_clock::now() + wait;
    int status = 0;
    while (std::chrono::steady_clock::now() < deadline) {
        const pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == pid) {
            // xdg-open that finds no handler ends with an error: nothing was started.
            return executable || (WIFEXITED(status) && WEXITSTATUS(status) == 0);
        }
        if (done < 0)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    std::thread([pid] {
        int s = 0;
        waitpid(pid, &s, 0);
    }).detach();
    return true;
}
