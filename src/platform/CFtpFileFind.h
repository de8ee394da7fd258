#pragma once
#include "platform/CFtpConnection.h"

#include <cstdint>
#include <string>
#include <vector>

// Walks one listing of the connection's current folder, entry by entry, in the
// order the server sent it. The listing is complete before FindFile returns,
// so the connection is free for a transfer as soon as the finder is closed.
class CFtpFileFind {
public:
    explicit CFtpFileFind(CFtpConnection& connection) : m_connection(connection) {}

    // Lists the current folder; false when it holds nothing.
    bool FindFile();
    // Makes the next entry current; false after the last one.
    bool FindNextFile();
    const std::string& GetFileName() const { return m_entries[m_current].name; }
    std::uint64_t GetLength() const { return m_entries[m_current].size; }
    bool IsDirectory() const { return m_entries[m_current].isFolder; }
    bool IsLink() const { return m_entries[m_current].isLink; }
    void Close();

private:
    CFtpConnection& m_connection;
    std::vector<FtpEntry> m_entries;
    std::size_t m_current = 0;
    std::size_t m_next = 0;
};
