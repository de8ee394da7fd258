#pragma once
#include "platform/CFtpConnection.h"
#include "platform/CNotifyChannel.h"
#include "platform/CWorkerThread.h"
#include "platform/FileUtil.h"
#include "worker/FtpSettings.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

// The download worker: resolves the publisher host, logs in, picks the newest
// application and update archives, downloads and unpacks them, and reports
// every step through its notification channel.
class CKELDownloadThread : public CWorkerThread {
public:
    CKELDownloadThread();
    ~CKELDownloadThread() override;

    bool InitInstance() override;
    int Run() override;
    // The run still ends as a failed one, so the receiver is never left waiting.
    void OnUncaughtException() noexcept override;

    // Wires the worker to a receiver's channel and its three text slots.
    void Wire(std::shared_ptr<CNotifyChannel> channel);
    // Posts to the receiver; dropped while no receiver is wired.
    void PostNotify(unsigned message, std::uint32_t wParam, std::int32_t lParam);

    bool DownloadFile(CFtpConnection& connection, const std::string& remoteName, std::uint64_t expectedSize);
    // `failedEntries`, when given, receives the number of entries that could not be written.
    bool UnpackArchive(const std::string& archiveName, const char* subFolder, int* failedEntries = nullptr);

    // The publisher host as a network-order IPv4 address; all ones when it does not resolve.
    static std::uint32_t CheckInternet(const std::string& host);

    std::shared_ptr<CNotifyChannel> m_pDialog;
    CTextSlot* m_pStatusText = nullptr;
    CTextSlot* m_pAppName = nullptr;
    CTextSlot* m_pUpdateName = nullptr;

    // Where and how to connect; set before the thread is resumed.
    FtpSettings m_settings;
    FtpTimeouts m_timeouts;
    // Free bytes on the file system of a folder; replaceable for tests.
    std::function<std::uint64_t(const std::string&)> m_freeSpace = FreeSpace;

    // Set by DownloadFile when another running copy holds the archive.
    bool m_archiveInUse = false;

private:
    // Walks the folders, chooses, downloads and unpacks. False when a chosen
    // archive could not be fetched or unpacked.
    bool FetchRelease(CFtpConnection& connection);
    void SetText(CTextSlot* slot, std::string text);

    // Holds the lock on the archive between its download and its deletion.
    CFileDescriptor m_archiveLock;
};

// Makes every folder along an absolute path, ignoring failures.
void CreateFolderChain(std::string path);
