// The state folder on POSIX systems, as the XDG base directories name it.
#include "platform/StateFolder.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>

std::string GetStateFolder()
{
    // Called once by the starting thread before the worker runs. A relative
    // XDG_STATE_HOME is ignored, as the XDG Base Directory rules ask.
    if (const char* env = std::getenv("XDG_STATE_HOME"); env && *env == '/')   // NOLINT(concurrency-mt-unsafe)
        return std::string(env) + "/vorndownload/";
    std::string home;
    if (const char* env = std::getenv("HOME"); env && *env)   // NOLINT(concurrency-mt-unsafe)
        home = env;
    else if (const passwd* pw = getpwuid(getuid()); pw && pw->pw_dir)   // NOLINT(concurrency-mt-unsafe)
        home = pw->pw_dir;
    if (home.empty())
        return {};
    if (home.back() != '/')
        home += '/';
    return home + ".local/state/vorndownload/";
}
