#pragma once
#include "unzip/ZipEntryInfo.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

// Reads one zip archive entry by entry and writes the current entry below a
// target folder, with its folders, its modification time and, for entries
// made on Unix, its permission bits. Entry names that would leave the target
// folder are refused; links in archives are written as plain files.
class CUnzipper {
public:
    explicit CUnzipper(const char* zipPath = nullptr);
    virtual ~CUnzipper();
    CUnzipper(const CUnzipper&) = delete;
    CUnzipper& operator=(const CUnzipper&) = delete;

    bool OpenArchive(const char* zipPath);
    bool CloseArchive();
    int GetEntryCount();
    bool GetEntryInfo(ZipEntryInfo& info);
    bool GoToNextEntry(const char* extension = nullptr);
    bool SetTargetFolder(const char* folder);
    bool ExtractEntry(const char* folder = nullptr, bool flatten = false);
    bool ExtractEntry(const char* folder, bool flatten, const char* password);
    const std::string& GetTargetFolder() const { return m_targetFolder; }

    static bool EnsureFolder(const char* folder);
    static bool EnsureParentFolder(const char* filePath);
    static bool SetTimesFromDos(const char* filePath, std::uint32_t dosDateTime);

private:
    bool ReadEntryInfo(ZipEntryInfo& info, std::size_t& storedNameLength);

    void* m_archive = nullptr;   // minizip's unzFile
    std::string m_targetFolder;
    std::unique_ptr<char[]> m_writeBuffer;   // made once per instance, not per entry
};
