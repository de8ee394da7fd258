#include "worker/CArchivePart.h"

#include <cstdint>
#include <optional>

CArchivePart::CArchivePart(const CFolder& folder, const std::string& archiveName)
    : m_folder(folder),
      m_archiveName(archiveName),
      m_partName(archiveName + ".part"),
      m_recordName(m_partName + "-state")
{}

FileResult CArchivePart::Open()
{
    m_file = m_folder.OpenFile(m_partName, FileOpen::ReadWrite, 0644);
    return m_file.OpenResult();
}

std::string CArchivePart::ReadRecord() const
{
    const CFile file = m_folder.OpenFile(m_recordName, FileOpen::Read);
    const std::optional<std::uint64_t> size = file.IsOpen() ? file.RegularSize() : std::nullopt;
    // A record is a few lines; anything else there is no record of ours.
    if (!size || *size > 65536)
        return {};
    std::string text(static_cast<std::size_t>(*size), '\0');
    const long long n = file.ReadAt(text.data(), text.size(), 0);
    return n == static_cast<long long>(*size) ? text : std::string();
}

bool CArchivePart::WriteRecord(const std::string& text) const
{
    if (!m_file.SyncData().Ok())
        return false;
    const std::string temporary = m_recordName + ".new";
    CFile file = m_folder.OpenFile(temporary, FileOpen::Replace, 0644);
    if (!file.IsOpen())
        return false;
    const bool written = file.Write(text.data(), text.size()).Ok() && file.SyncData().Ok() && file.Close();
    if (!written || !m_folder.Rename(temporary, m_recordName).Ok()) {
        m_folder.RemoveFile(temporary);
        return false;
    }
    return true;
}

void CArchivePart::RemoveRecord() const
{
    m_folder.RemoveFile(m_recordName);
}

FileResult CArchivePart::StartAfresh() const
{
    RemoveRecord();
    if (const std::optional<std::uint64_t> size = m_file.RegularSize(); size && *size == 0)
        return {};
    return m_file.Truncate(0);
}

void CArchivePart::Remove()
{
    (void)m_file.Close();
    m_folder.RemoveFile(m_partName);
    RemoveRecord();
}

FileResult CArchivePart::Complete() const
{
    FileResult result = m_file.SyncData();
    if (result.Ok())
        result = m_folder.Rename(m_partName, m_archiveName);
    if (result.Ok())
        RemoveRecord();
    return result;
}
