// What CFile does the same way on every system.
#include "platform/CFile.h"

#include <utility>

CFile::CFile(CFile&& o) noexcept : m_handle(std::exchange(o.m_handle, -1)), m_openResult(o.m_openResult)
{}

CFile& CFile::operator=(CFile&& o) noexcept
{
    if (this != &o) {
        (void)Close();   // a caller that cares closes first
        m_handle = std::exchange(o.m_handle, -1);
        m_openResult = o.m_openResult;
    }
    return *this;
}
