#pragma once
#include <string_view>

// ASCII letters compared without their case, as file names on the publisher's
// Windows-made server are ("kel_v12.ZIP" is "KEL_V12.zip").
bool EqualsIgnoringCase(std::string_view a, std::string_view b);
bool StartsWithIgnoringCase(std::string_view text, std::string_view prefix);
bool EndsWithIgnoringCase(std::string_view text, std::string_view suffix);
