#pragma once
#include "platform/FileUtil.h"
#include "unzip/ZipEntryInfo.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

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
    // A descriptor of root/parts[0..count), creating what is missing and never
    // following a link, so nothing on disk can redirect an entry out of its
    // folder. Owned by the instance; valid until the next call.
    int OpenFolderChain(const std::string& root, const std::vector<std::string>& parts, std::size_t count);
    void ForgetFolderChain();

    void* m_archive = nullptr;   // minizip's unzFile
    std::string m_targetFolder;
    std::unique_ptr<char[]> m_writeBuffer;   // made once per instance, not per entry
    std::string m_chainRoot;
    CFileDescriptor m_rootFd;
    std::vector<std::string> m_chainParts;
    std::vector<CFileDescriptor> m_chainFds;
};
