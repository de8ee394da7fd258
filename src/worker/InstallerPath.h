#pragma once
#include <string>

// Where the installer of the unpacked application stands:
// "<Download folder>/<app>/<app>/Setup.exe". `problem` is empty when that
// path is safe to start: <app> is a plain name and every part of the path is
// reached without a link, so nothing outside the Download folder is named.
struct InstallerPath {
    std::string path;
    std::string problem;
};

InstallerPath FindInstaller(const std::string& downloadFolder, const std::string& app);
