// FileResult on Windows: GetLastError() values.
#include "platform/FileResult.h"

#include <windows.h>

#include <system_error>

FileResult FileResult::FromSystem(int systemCode)
{
    switch (systemCode) {
    case ERROR_SUCCESS:
        return {};
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
        return {Kind::NoRoom, systemCode};
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
        return {Kind::Exists, systemCode};
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
        return {Kind::Missing, systemCode};
    case ERROR_DIRECTORY:
    case ERROR_CANT_ACCESS_FILE:
        return {Kind::NotAFile, systemCode};
    default:
        return {Kind::Other, systemCode};
    }
}

std::string FileResult::Text() const
{
    // FormatMessage's wording, without its line end.
    std::string text = std::system_category().message(m_systemCode);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ' || text.back() == '.'))
        text.pop_back();
    return text;
}
