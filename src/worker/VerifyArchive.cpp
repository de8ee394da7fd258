#include "platform/CFolder.h"
#include "platform/CFtpFile.h"
#include "worker/CKELDownloadThread.h"
#include "worker/CReleaseSignature.h"
#include "worker/CReleaseState.h"
#include "worker/CStandbyLogin.h"
#include "worker/Messages.h"

#include <optional>

namespace {

// What DownloadFile uses along with the download (what the list says of the
// archive, the connection logged in ahead), while in scope.
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

const std::string kList = CReleaseList::kFileName;

// "2026-12-01 10:00 UTC"
std::string ShortUtcTime(std::int64_t seconds)
{
    const std::string text = UtcTimeText(seconds);   // 2026-12-01T10:00:00Z
    return text.substr(0, 10) + " " + text.substr(11, 5) + " UTC";
}

}   // namespace

std::string CKELDownloadThread::FetchBounded(CFtpConnection& connection, const std::string& name, std::size_t limit,
                                             bool& found)
{
    // A refused file is a missing one; a broken connection throws as for any transfer.
    const std::unique_ptr<CFtpFile> file = connection.OpenFile(name);
    found = file != nullptr;
    if (!file)
        return {};
    std::string text(limit + 1, '\0');
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

StepResult CKELDownloadThread::Refuse(const std::string& status)
{
    SetText(m_pStatusText, status);
    PostNotify(UM_FILENAME_UPDATE, kStatusChanged, 0);
    return StepResult::Fail(StepResult::Outcome::Refused, status);
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
    return Refuse(name + " - " + verdict);
}

StepResult CKELDownloadThread::AcceptReleaseList(CFtpConnection& connection)
{
    m_release.reset();
    bool found = false;
    bool signatureFound = false;
    const std::string text = FetchBounded(connection, kList, CReleaseList::kMaxFileSize, found);
    const std::string signature =
        found ? FetchBounded(connection, CReleaseList::kSignatureName, CReleaseSignature::kMaxFileSize, signatureFound)
              : std::string();
    if (!found || !signatureFound)
        return Refuse(kList + " - Not Signed");

    // Key id, trusted comment, signatures (CReleaseSignature::Accept), the
    // list's bytes, then what they say; anything too large is refused unread.
    CReleaseSignature check(m_settings.releaseKey);
    std::optional<CReleaseList> list;
    if (text.size() <= CReleaseList::kMaxFileSize && check.Accept(signature, kList)) {
        check.Update(text.data(), text.size());
        if (check.Verify())
            list = CReleaseList::Parse(text);
    }
    if (!list)
        return Refuse(kList + " - Not Valid");

    const CReleaseState state(m_stateFolder);
    const CReleaseState::Accepted accepted{list->serial, HashPiece(text.data(), text.size())};
    if (const std::optional<CReleaseState::Accepted> last = state.Load(check.KeyId())) {
        if (list->serial < last->serial)
            return Refuse(kList + " - Older Than The Last One Accepted");
        if (list->serial == last->serial && accepted.list != last->list)
            return Refuse(kList + " - Serial Reused");
    }
    if (list->expires <= m_runStart)
        return Refuse(kList + " - Expired " + ShortUtcTime(list->expires) + ", Check The Computer's Clock");

    // Remembered only once it passed every check; a state folder that cannot
    // be written costs the rollback check of later runs, not this one.
    if (const std::string why = state.Store(check.KeyId(), accepted); !why.empty()) {
        SetText(m_pStatusText, kList + " - Could Not Be Remembered (" + why + ")");
        PostNotify(UM_FILENAME_UPDATE, kStatusChanged, 0);
    }
    m_release = std::move(list);
    return StepResult::Done();
}

StepResult CKELDownloadThread::MatchRelease(const Choice& application, const Choice& update)
{
    const auto listedOnServer = [](const Choice& folder, const ReleaseArchive& listed) {
        return folder.files.contains(listed.name);
    };
    const auto isListed = [](const Choice& chosen, const ReleaseArchive* listed) {
        return listed && chosen.name == listed->name && chosen.size == listed->size;
    };
    const ReleaseArchive& app = m_release->application;
    // What the list names and the listing lacks says most (a newer release
    // withheld, an update left out); then a choice the list does not name.
    if (!listedOnServer(application, app))
        return Refuse(app.name + " - Not On Server");
    if (application.number > 0 && !isListed(application, &app))
        return RefuseArchive(application.name, "Not In Release List");
    if (m_release->update && !listedOnServer(update, *m_release->update))
        return Refuse(m_release->update->name + " - Not On Server");
    if (update.number > 0 && !isListed(update, m_release->update ? &*m_release->update : nullptr))
        return RefuseArchive(update.name, "Not In Release List");
    return StepResult::Done();
}

StepResult CKELDownloadThread::FetchArchive(CFtpConnection& connection, const std::string& remoteName,
                                            std::uint64_t expectedSize)
{
    // A large archive's first extra connection logs in meanwhile, while the
    // archive's transfer is set up.
    std::optional<CStandbyLogin> standby;
    if (m_connections > 1 && expectedSize >= m_segmentMinimum)
        standby.emplace(m_settings, m_timeouts, [this] { return StopRequested(); });
    const InUse<CStandbyLogin> loggingIn(m_standby, standby ? &*standby : nullptr);

    if (!m_release)
        return DownloadFile(connection, remoteName, expectedSize);
    const ReleaseArchive* listed = nullptr;
    if (m_release->application.name == remoteName)
        listed = &m_release->application;
    else if (m_release->update && m_release->update->name == remoteName)
        listed = &*m_release->update;
    // Only what the list names is fetched (MatchRelease made sure of it).
    if (!listed || listed->size != expectedSize)
        return RefuseArchive(remoteName, "Not In Release List");
    const InUse<const ReleaseArchive> checking(m_listed, listed);
    return DownloadFile(connection, remoteName, expectedSize);
}
