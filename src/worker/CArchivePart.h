#pragma once
#include "platform/CFile.h"
#include "platform/CFolder.h"
#include "platform/FileResult.h"

#include <string>

// The partial data of an archive in the Download folder ("<name>.part") and
// the record of what it holds beside it ("<name>.part-state"). Only a
// complete file takes the archive's name.
class CArchivePart {
public:
    // `folder` must outlive the object.
    CArchivePart(const CFolder& folder, const std::string& archiveName);

    // Opens the part, made empty when missing; never through a link.
    FileResult Open();
    const CFile& File() const { return m_file; }
    bool IsOpen() const { return m_file.IsOpen(); }

    // The record's text; empty when there is none (or something else is there).
    std::string ReadRecord() const;
    // Replaces the record with `text`, durably, once the part's data is on
    // the disk, so the record never claims bytes that are not; a crash
    // leaves the old record or the new one. False when it did not.
    bool WriteRecord(const std::string& text) const;
    void RemoveRecord() const;
    // Removes the record and empties the part (only when it is not empty
    // already: truncating a file makes some file systems, ext4, flush all it
    // is given later when it is closed).
    FileResult StartAfresh() const;
    // Closes and deletes the part and its record.
    void Remove();
    // Makes the data durable and gives the part the archive's name; the
    // record goes. The open file stays with this object.
    FileResult Complete() const;
    // The open file (with its lock), for the caller to keep.
    CFile Release() { return std::move(m_file); }

private:
    const CFolder& m_folder;
    const std::string m_archiveName;
    const std::string m_partName;
    const std::string m_recordName;
    CFile m_file;
};
