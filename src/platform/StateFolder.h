#pragma once
#include <string>

// The folder where the program keeps what it must remember between runs
// (never the Download folder), ending in the separator:
// "$XDG_STATE_HOME/vorndownload/" or "$HOME/.local/state/vorndownload/";
// on Windows "%LOCALAPPDATA%\VORNdownload\". Empty when the system names none.
std::string GetStateFolder();
