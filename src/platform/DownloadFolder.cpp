#include "platform/DownloadFolder.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>

std::string GetDownloadFolder()
{
    std::string home;
    if (const char* env = std::getenv("HOME"); env && *env)
        home = env;
    else if (const passwd* pw = getpwuid(getuid()); pw && pw->pw_dir)
        home = pw->pw_dir;
    else
        home = "/tmp";
    if (home.back() != '/')
        home += '/';
    return home + "VORN Download/";
}
