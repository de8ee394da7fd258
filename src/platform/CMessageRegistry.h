#pragma once
#include <string_view>

// Numbers for message names: both sides of the protocol register the same
// name and get the same number (on Windows, RegisterWindowMessage's).
class CMessageRegistry {
public:
    static unsigned Register(std::string_view name);
};
