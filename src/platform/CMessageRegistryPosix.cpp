#include "platform/CMessageRegistry.h"

#include <map>
#include <mutex>
#include <string>

unsigned CMessageRegistry::Register(std::string_view name)
{
    // Function-local statics: registration runs during static initialisation of
    // other units, whose order is unknown.
    static std::mutex lock;
    static std::map<std::string, unsigned, std::less<>> numbers;
    std::lock_guard guard(lock);
    if (auto it = numbers.find(name); it != numbers.end())
        return it->second;
    // Same range as registered window messages, so they never meet fixed ones.
    const unsigned number = 0xC000u + static_cast<unsigned>(numbers.size());
    numbers.emplace(std::string(name), number);
    return number;
}
