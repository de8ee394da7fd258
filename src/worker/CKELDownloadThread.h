#pragma once
#include "platform/CFtpConnection.h"
#include "platform/CNotifyChannel.h"
#include "platform/CWorkerThread.h"
#include "platform/FileUtil.h"
#include "worker/FtpSettings.h"
#include "worker/StepResult.h"

class CReleaseSignature;
class CUnzipper;

#include <chrono>
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
    void PostNotify(unsigned message, std::uint64_t wParam, std::int64_t lParam);
    // Posts the start of a bar (position 0) that counts `counts`.
    void PostBarStart(CNotifyChannel::BarCount counts, std::int64_t range);

    bool DownloadFile(CFtpConnection& connection, const std::string& remoteName, std::uint64_t expectedSize);

    // What fetching one archive came to.
    enum class ArchiveFetch {
        Ready,     // in the Download folder, signed by the publisher where a key is built in
        Failed,    // not whole (or stopped): not to be unpacked; the run goes on
        Held,      // another running copy holds it, or the disk took no more: the run ends
        Refused,   // not signed, or not by the publisher's key for this name and these bytes: deleted
    };
    // DownloadFile, and with a release key first "<name>.minisig" from the
    // same folder, checked before the download and against the bytes after it.
    ArchiveFetch FetchArchive(CFtpConnection& connection, const std::string& remoteName, std::uint64_t expectedSize);
    // Takes the regular file `name` of the Download folder (never a link) as
    // the archive to unpack, and locks it. False when it is not there, not a
    // regular file, or another running copy holds it (m_archiveInUse).
    bool TakeArchive(const std::string& name);
    // Unpacks the archive taken into the Download folder, or into `subFolder`
    // right below it. `failedEntries`, when given, receives the number of
    // entries that could not be written.
    StepResult UnpackArchive(const std::string& archiveName, const char* subFolder, int* failedEntries = nullptr);

    // The publisher host's first address (IPv6 or IPv4) as text; empty when it
    // does not resolve within `limit` or `stop` answers true meanwhile.
    static std::string CheckInternet(const std::string& host,
                                     std::chrono::milliseconds limit = std::chrono::seconds(30),
                                     const std::function<bool()>& stop = {});

    std::shared_ptr<CNotifyChannel> m_pDialog;
    CTextSlot* m_pStatusText = nullptr;
    CTextSlot* m_pAppName = nullptr;
    CTextSlot* m_pUpdateName = nullptr;

    // Where and how to connect, and the Download folder ("/.../VORN Download/",
    // found by the front end); set before the thread is resumed.
    FtpSettings m_settings;
    FtpTimeouts m_timeouts;
    std::string m_downloadFolder;
    // Free room on the file system of an open folder; replaceable for tests.
    std::function<FreeRoom(const CFolder&)> m_freeSpace = &CFolder::Free;
    // The host's lookup (CheckInternet); replaceable for tests.
    std::function<std::string(const std::string&, std::chrono::milliseconds, const std::function<bool()>&)>
        m_checkInternet = CheckInternet;

    // Set by DownloadFile when another running copy holds the archive.
    bool m_archiveInUse = false;
    // Set by DownloadFile when the local file could not be written: the run ends.
    bool m_writeFailed = false;
    // Set by DownloadFile when the archive was completed from a part left before.
    bool m_archiveResumed = false;

    // Connections a large archive is fetched over (1: only the first), and
    // the size from which it is.
    int m_connections;
    std::uint64_t m_segmentMinimum = std::uint64_t{64} << 20;

    // While FetchArchive downloads a signed archive: its signature, whose hash
    // DownloadFile keeps up with what is on disk. Null otherwise.
    CReleaseSignature* m_signature = nullptr;

private:
    // Lets go of the archive taken or downloaded before, if any.
    void ForgetArchive();
    // Locks `fd` for the archive `name` without waiting; false (and
    // m_archiveInUse) when another running copy holds it.
    bool LockArchive(int fd, const std::string& name);
    // Walks the folders, chooses, downloads and unpacks. False when a chosen
    // archive could not be fetched or unpacked.
    bool FetchRelease(CFtpConnection& connection);
    // Fetches the archive `name` of the current server folder and unpacks it
    // into `subFolder` of the Download folder (null: the folder itself). A
    // failure is also the run's reason (m_failure), in words.
    StepResult FetchAndUnpack(CFtpConnection& connection, const std::string& name, std::uint64_t size,
                              const char* subFolder);
    void SetText(CTextSlot* slot, const std::string& text);
    // What unpacking the entries of one archive came to.
    struct Unpacked {
        StepResult result;
        int count = 0;              // entries in the archive
        int failures = 0;           // of them, not written
        bool keepArchive = false;   // a newer build may unpack it without a new download
    };
    // The steps of UnpackArchive: the entries of `archive` written below `target`.
    Unpacked UnpackEntries(CFile archive, CFolder target, const std::string& targetPath, const std::string& archiveName,
                           const FreeRoom& room);
    // Refuses, before anything is written, an archive with an entry nothing
    // here decodes or one that cannot fit.
    Unpacked CheckBeforeWriting(CUnzipper& unzipper, const std::string& archiveName, const FreeRoom& room);
    // Writes every entry, posting the progress; the number that failed.
    int ExtractEntries(CUnzipper& unzipper, const std::string& archiveName, std::int64_t range);
    // Deletes or keeps the archive, lets go of it unless stopped, and says
    // what unpacking it came to.
    StepResult FinishUnpacking(const CFolder& folder, const std::string& archiveName, const Unpacked& unpacked);
    // The signature file `name` of the current server folder; empty when the
    // server has none. Read whole up to one byte past the largest taken.
    std::string FetchSignature(CFtpConnection& connection, const std::string& name, bool& found);
    // Deletes the archive `name`, its part and the part's record, each unless
    // another running copy holds it, and says `verdict` as the status.
    ArchiveFetch RefuseArchive(const std::string& name, const char* verdict);

    // Holds the lock on the archive between its download and its deletion;
    // it is also what tells the file to unpack from any other at its name.
    CFileDescriptor m_archiveLock;
    std::string m_archiveName;
    // The application archive was unpacked whole in this run.
    bool m_applicationComplete = false;
    // Why the run did not end complete, in words; handed to the front ends at
    // the end, since a status text may be overwritten before it is shown.
    std::string m_failure;
};
