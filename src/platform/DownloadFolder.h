#pragma once
#include <string>

// "$HOME/VORN Download/", always ending in "/". Every local path derives from it.
std::string GetDownloadFolder();
