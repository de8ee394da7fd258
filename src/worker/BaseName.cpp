#include "worker/BaseName.h"

std::string BaseName(std::string name)
{
    // A separator in the first position is left in place: the names shown
    // are the ones the Windows program shows for the same listing.
    if (const auto slash = name.rfind('/'); slash != std::string::npos && slash > 0)
        name.erase(0, slash + 1);
    if (const auto dot = name.rfind('.'); dot != std::string::npos)
        name.erase(dot);
    const char* blanks = " \t\n\v\f\r";
    const auto first = name.find_first_not_of(blanks);
    if (first == std::string::npos)
        return {};
    const auto last = name.find_last_not_of(blanks);
    return name.substr(first, last - first + 1);
}
