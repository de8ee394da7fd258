// On Windows the names are registered with the system itself, so a window
// of any process that registers the same name gets the same number.
#include "platform/CMessageRegistry.h"

#include <windows.h>

#include <string>

unsigned CMessageRegistry::Register(std::string_view name)
{
    return RegisterWindowMessageA(std::string(name).c_str());
}
