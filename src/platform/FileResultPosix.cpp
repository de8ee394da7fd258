// FileResult on POSIX systems: errno values.
#include "platform/FileResult.h"

#include <cerrno>
#include <system_error>

FileResult FileResult::FromSystem(int systemCode)
{
    switch (systemCode) {
    case 0:
        return {};
    case ENOSPC:
    case EDQUOT:
        return {Kind::NoRoom, systemCode};
    case EEXIST:
        return {Kind::Exists, systemCode};
    case ENOENT:
        return {Kind::Missing, systemCode};
    case ELOOP:   // O_NOFOLLOW met a link
    case EISDIR:
    case ENOTDIR:
        return {Kind::NotAFile, systemCode};
    default:
        return {Kind::Other, systemCode};
    }
}

std::string FileResult::Text() const
{
    return std::generic_category().message(m_systemCode);
}
