// The Download folder on POSIX systems: in the user's home.
#include "platform/DownloadFolder.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>

std::string GetDownloadFolder()
{
    std::string home;
    // Called once by the front end before the worker starts.
    if (const char* env = std::getenv("HOME"); env && *env)   // NOLINT(concurrency-mt-unsafe)
        home = env;
    else if (const passwd* pw = getpwuid(getuid()); pw && pw->pw_dir)   // NOLINT(concurrency-mt-unsafe)
        home = pw->pw_dir;
    else
        home = "/tmp";
    if (home.back() != '/')
        home += '/';
    return home + "VORN Download/";
}
