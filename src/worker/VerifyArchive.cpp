#include "platform/CFolder.h"
#include "platform/CFtpFile.h"
#include "worker/CArchiveHasher.h"
#include "worker/CKELDownloadThread.h"
#include "worker/CReleaseSignature.h"
#include "worker/CStandbyLogin.h"
#include "worker/Messages.h"

#include <optional>

namespace {

// What DownloadFile uses along with the download (the signature it hashes,
// the connection logged in ahead), while in scope.
template <class T>
class InUse {
public:
    InUse(T*& slot, T* object) : m_slot(slot) { m_slot = object; }
    ~InUse() { m_slot = nullptr; }
    InUse(const InUse&) = delete;
    InUse& operator=(const InUse&) = delete;

private:
    T*& m_slot;
};

}   // namespace

std::string CKELDownloadThread::FetchSignature(CFtpConnection& connection, const std::string& name, bool& found)
{
    // A refused file is a missing one; a broken connection throws as for any transfer.
    const std::unique_ptr<CFtpFile> file = connection.OpenFile(name);
    found = file != nullptr;
    if (!file)
        return {};
    std::string text(CReleaseSignature::kMaxFileSize + 1, '\0');
    std::size_t got = 0;
    while (got < text.size()) {
        const std::size_t n = file->Read(text.data() + got, text.size() - got);
        if (n == 0)
            break;
        got += n;
    }
    file->Close();   // cut when the file is longer than that
    text.resize(got);
    return text;
}

StepResult CKELDownloadThread::RefuseArchive(const std::string& name, const char* verdict)
{
    ForgetArchive();
    if (const CFolder folder = CFolder::OpenPath(m_downloadFolder, /*create=*/false)) {
        bool held = false;
        for (const std::string& file : {name, name + ".part"}) {
            if (!folder.RemoveUnlessLocked(file))
                held = true;   // another running copy's download: its own check refuses it
        }
        if (!held)
            folder.RemoveFile(name + ".part-state");
    }
    const std::string refused = name + " - " + verdict;
    SetText(m_pStatusText, refused);
    PostNotify(UM_FILENAME_UPDATE, kStatusChanged, 0);
    return StepResult::Fail(StepResult::Outcome::Refused, refused);
}

StepResult CKELDownloadThread::FetchArchive(CFtpConnection& connection, const std::string& remoteName,
                                            std::uint64_t expectedSize)
{
    // A large archive's first extra connection logs in meanwhile: while the
    // signature comes and the archive's transfer is set up.
    std::optional<CStandbyLogin> standby;
    if (m_connections > 1 && expectedSize >= m_segmentMinimum)
        standby.emplace(m_settings, m_timeouts, [this] { return StopRequested(); });
    const InUse<CStandbyLogin> loggingIn(m_standby, standby ? &*standby : nullptr);

    if (m_settings.releaseKey.empty())
        return DownloadFile(connection, remoteName, expectedSize);

    // The signature comes first: a missing or foreign one costs no download.
    CReleaseSignature signature(m_settings.releaseKey);
    bool found = false;
    const std::string text = FetchSignature(connection, remoteName + ".minisig", found);
    if (!found)
        return RefuseArchive(remoteName, "Not Signed");
    if (!signature.Accept(text, remoteName))
        return RefuseArchive(remoteName, "Signature Not Valid");

    StepResult fetched;
    {
        const InUse<CReleaseSignature> hashing(m_signature, &signature);
        fetched = DownloadFile(connection, remoteName, expectedSize);
    }
    if (!fetched)
        return fetched;
    // What the download's hasher had not reached yet (all of a complete copy
    // that was already there); a stop keeps the archive for the next run.
    if (!CArchiveHasher::HashRest(signature, m_archiveLock, [this] { return StopRequested(); })) {
        if (StopRequested())
            return StepResult::Fail(StepResult::Outcome::Stopped, "the check of " + remoteName + " was stopped");
        return StepResult::Fail(StepResult::Outcome::Failed, "cannot read " + remoteName);
    }
    return signature.Verify() ? StepResult::Done() : RefuseArchive(remoteName, "Signature Not Valid");
}
