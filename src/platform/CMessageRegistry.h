#pragma once
#include <string_view>

// Process-wide table of message names, standing in for RegisterWindowMessage:
// both sides of the protocol register the same name and get the same number.
class CMessageRegistry {
public:
    static unsigned Register(std::string_view name);
};
