#include "platform/CFtpFileFind.h"

bool CFtpFileFind::FindFile()
{
    m_entries = m_connection.List();
    m_current = m_next = 0;
    return !m_entries.empty();
}

bool CFtpFileFind::FindNextFile()
{
    if (m_next >= m_entries.size())
        return false;
    m_current = m_next++;
    return true;
}

void CFtpFileFind::Close()
{
    m_entries.clear();
    m_current = m_next = 0;
}
