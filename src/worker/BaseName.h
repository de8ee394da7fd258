#pragma once
#include <string>

// The short name shown for an archive: the part after the last "/", less the
// extension from the last ".", trimmed of white space at both ends.
std::string BaseName(std::string name);
