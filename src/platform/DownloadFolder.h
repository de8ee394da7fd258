#pragma once
#include <string>

// What separates folders in a path this system takes.
#ifdef _WIN32
inline constexpr char kFolderSeparator = '\\';
#else
inline constexpr char kFolderSeparator = '/';
#endif

// "$HOME/VORN Download/" (on Windows "C:\\VORN Download\\"), always ending in the
// separator. Every local path derives from it.
std::string GetDownloadFolder();
