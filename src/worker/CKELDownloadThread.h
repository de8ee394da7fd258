#pragma once
#include "platform/CFolder.h"
#include "platform/CFtpConnection.h"
#include "platform/CNotifyChannel.h"
#include "platform/CWorkerThread.h"
#include "worker/CReleaseList.h"
#include "worker/FtpSettings.h"
#include "worker/StepResult.h"

class CArchivePart;
class CArrivingBytes;
class CArrivingUnpack;
class CStandbyLogin;
class CUnzipper;

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

// The download worker: resolves the publisher host, logs in, picks the newest
// application and update archives, downloads and unpacks them, and reports
// every step through its notification channel.
class CKELDownloadThread : public CWorkerThread {
public:
    CKELDownloadThread();
    ~CKELDownloadThread() override;

    // What discovery chose in one server folder: the archive with the
    // greatest number, and every file the listing held with its size.
    struct Choice {
        std::string name;
        std::uint64_t size = 0;
        std::int16_t number = 0;
        std::map<std::string, std::uint64_t> files;
    };

    bool InitInstance() override;
    int Run() override;
    // The run still ends as a failed one, so the receiver is never left waiting.
    void OnUncaughtException() noexcept override;

    // Wires the worker to a receiver's channel and its four text slots.
    void Wire(std::shared_ptr<CNotifyChannel> channel);
    // Posts to the receiver; dropped while no receiver is wired.
    void PostNotify(unsigned message, std::uint64_t wParam, std::int64_t lParam);
    // Posts the start of a bar (position 0) that counts `counts`.
    void PostBarStart(CNotifyChannel::BarCount counts, std::int64_t range);

    // Brings `remoteName` of the server's current folder whole into the
    // Download folder, resuming a part left before, and locks it. Done: it is
    // there under its name; Held: another running copy has it; WriteFailed:
    // it could not be written (the partial data is gone); Stopped; Failed (the
    // run goes on). Throws what the connection throws.
    StepResult DownloadFile(CFtpConnection& connection, const std::string& remoteName, std::uint64_t expectedSize);

    // DownloadFile, and with a release list accepted each piece checked
    // against the list as it arrives (Refused: a piece wrong twice, or a
    // complete local copy that does not match; the archive is deleted).
    StepResult FetchArchive(CFtpConnection& connection, const std::string& remoteName, std::uint64_t expectedSize);
    // Takes the regular file `name` of the Download folder (never a link) as
    // the archive to unpack, and locks it. Failed when it is not there or not
    // a regular file, Held when another running copy holds it.
    StepResult TakeArchive(const std::string& name);
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
    // Where the last release list accepted per publisher key is kept
    // (ending in the separator); found at construction, replaceable for tests.
    std::string m_stateFolder;
    // Free room on the file system of an open folder; replaceable for tests.
    std::function<FreeRoom(const CFolder&)> m_freeSpace = &CFolder::Free;
    // The host's lookup (CheckInternet); replaceable for tests.
    std::function<std::string(const std::string&, std::chrono::milliseconds, const std::function<bool()>&)>
        m_checkInternet = CheckInternet;

    // Set by DownloadFile when the archive was completed from a part left before.
    bool m_archiveResumed = false;

    // Connections a large archive is fetched over (1: only the first), and
    // the size from which it is; from that size on an archive is also
    // unpacked while it arrives (below, a smaller one gains little).
    int m_connections;
    std::uint64_t m_segmentMinimum = std::uint64_t{64} << 20;
    // Entries from which an archive unpacked while it arrives has two
    // unzippers (below, making the files costs little).
    int m_twoUnzippersFrom = 1000;

    // The release list accepted in this run, with a publisher key.
    std::optional<CReleaseList> m_release;
    // While FetchArchive downloads a listed archive: what the list says of
    // it, against which DownloadFile checks each piece. Null otherwise.
    const ReleaseArchive* m_listed = nullptr;
    // While FetchArchive fetches a large archive: its first extra connection,
    // logging in meanwhile. Null otherwise.
    CStandbyLogin* m_standby = nullptr;

private:
    // Lets go of the archive taken or downloaded before, if any.
    void ForgetArchive();
    // Locks `file` for the archive `name` without waiting; Held when another
    // running copy holds it.
    StepResult LockArchive(const CFile& file, const std::string& name);
    // The steps of DownloadFile: the part opened and locked; what it lacks
    // fetched; a failed write's end of the part and of the run.
    StepResult OpenPart(CArchivePart& part, const std::string& remoteName);
    // TakeArchive, and for a listed archive each piece checked.
    StepResult TakeListedArchive(const std::string& name);
    StepResult FetchMissing(CFtpConnection& connection, CArchivePart& part, const std::string& remoteName,
                            std::uint64_t expectedSize);
    StepResult WriteFailed(CArchivePart& part, const std::string& remoteName, const FileResult& why);
    void PostDownloadStart(const std::string& remoteName, std::uint64_t size, std::uint64_t resumedAt);
    void PostProgress(const std::string& remoteName, std::uint64_t total, std::uint64_t size);
    // While FetchAndUnpack fetches a large archive: it is unpacked into the
    // staging folder (below it, into the sub-folder given) as it arrives.
    void BeginUnpackingBeside(const std::string& remoteName, std::shared_ptr<CArrivingBytes> bytes);
    // After the download: an archive of many entries is unpacked the same
    // way, shared by two unzippers.
    void BeginUnpackingWhole(const CFolder& folder, const std::string& archiveName, const std::string& subFolder);
    // Starts unpacking `archive` (read again through `second`) into the
    // staging folder, as far as `bytes` allow; an archive of fewer than
    // `fewest` entries is left to be unpacked one entry after another.
    void StartUnpacking(const CFolder& folder, CFile archive, CFile second, const std::string& archiveName,
                        const std::string& subFolder, std::shared_ptr<CArrivingBytes> bytes, int fewest);
    // Ends that unpacking, if any, and removes what it wrote.
    void EndUnpackingBeside();
    // Walks the folders, chooses, downloads and unpacks: Done for a release
    // unpacked whole, otherwise the first step that was not, with its reason.
    StepResult FetchRelease(CFtpConnection& connection);
    // Fetches the archive `name` of the current server folder and unpacks it
    // into `subFolder` of the Download folder (null: the folder itself).
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
    // Posts the progress of the unpacking that ran beside the download from
    // where it is, until it ends; nothing when the archive is to be unpacked
    // now instead.
    std::optional<Unpacked> FollowUnpackingBeside(const std::string& archiveName);
    // Writes every entry, posting the progress; the number that failed.
    int ExtractEntries(CUnzipper& unzipper, const std::string& archiveName, std::int64_t range);
    // Deletes or keeps the archive, lets go of it unless stopped, and says
    // what unpacking it came to.
    StepResult FinishUnpacking(const CFolder& folder, const std::string& archiveName, const Unpacked& unpacked);
    // The small file `name` of the current server folder; empty when the
    // server has none. Read up to one byte past `limit`, never further.
    std::string FetchBounded(CFtpConnection& connection, const std::string& name, std::size_t limit, bool& found);
    // Fetches and checks the signed release list of the current (the
    // application's) folder and remembers it; Refused with the reason otherwise.
    StepResult AcceptReleaseList(CFtpConnection& connection);
    // The archives chosen (with the names and sizes the two listings held)
    // must be the ones the list names; Refused otherwise, before any download.
    StepResult MatchRelease(const Choice& application, const Choice& update);
    // Says `status` and ends the run as refused.
    StepResult Refuse(const std::string& status);
    // Deletes the archive `name`, its part and the part's record, each unless
    // another running copy holds it, and says `verdict` as the status.
    StepResult RefuseArchive(const std::string& name, const char* verdict);

    // Holds the lock on the archive between its download and its deletion;
    // it is also what tells the file to unpack from any other at its name.
    CFile m_archiveLock;
    std::string m_archiveName;
    // The application archive was unpacked whole in this run.
    bool m_applicationComplete = false;
    // When the run started, in seconds since 1970 (UTC): a list must expire later.
    std::int64_t m_runStart = 0;
    // It was, but the update offered with it was refused.
    bool m_updateRefused = false;
    // Set by FetchAndUnpack: the archive fetched may be unpacked as it
    // arrives, into this sub-folder ("" for none).
    std::optional<std::string> m_besideFolder;
    std::unique_ptr<CArrivingUnpack> m_beside;
};
