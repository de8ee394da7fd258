#include "worker/CKELDownloadThread.h"

#include "platform/CFolder.h"
#include "platform/CFtpFileFind.h"
#include "platform/CInternetException.h"
#include "platform/LookUpHost.h"
#include "platform/PrintableText.h"
#include "platform/StateFolder.h"
#include "platform/TextCase.h"
#include "worker/BaseName.h"
#include "worker/CArrivingUnpack.h"
#include "worker/Messages.h"

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <optional>
#include <vector>

namespace {

// Each walk is one change on the server: it fails where any step would.
const char* const kApplicationFolders = "Digital Product Updates/KEL/KEL Software DVD/ZIP";
const char* const kUpdateFolders = "../../KEL Update DVD/ZIP_Files";
// Back from the update folder, when both are listed before any download.
const char* const kApplicationFromUpdate = "../../KEL Software DVD/ZIP";

// atoi of the text after "KEL_V", low 16 bits, signed; 0 for other names.
std::int16_t ApplicationNumber(const std::string& name)
{
    if (!StartsWithIgnoringCase(name, "KEL_V"))
        return 0;
    return static_cast<std::int16_t>(std::atoi(name.c_str() + 5));
}

// Characters 7-8 plus 100 times characters 10-11; missing characters count as 0.
std::int16_t UpdateNumber(const std::string& name)
{
    auto field = [&](std::size_t from) { return from < name.size() ? std::atoi(name.substr(from, 2).c_str()) : 0; };
    return static_cast<std::int16_t>(field(6) + 100 * field(9));
}

bool IsSignatureName(const std::string& name)
{
    return EndsWithIgnoringCase(name, ".minisig");
}

// Why a run ended that no step explained.
const char* const kUnexpectedError = "an unexpected error ended the run";

using Choice = CKELDownloadThread::Choice;

// Lists the current folder and keeps the file with the greatest number;
// ties keep the earlier entry. Folders and links are no archives, and a name
// that cannot be a local file name is passed over. The listing is closed
// before returning.
Choice ChooseArchive(CFtpConnection& connection, const std::function<std::int16_t(const std::string&)>& numberOf)
{
    Choice best;
    CFtpFileFind finder(connection);
    bool more = false;
    try {
        more = finder.FindFile();
    } catch (const CInternetException& e) {
        // A listing that arrived but makes no sense holds no archive; a
        // broken connection still ends the run as an internet failure.
        if (e.Kind() != FtpError::ListingNotReadable)
            throw;
    }
    while (more) {
        more = finder.FindNextFile();
        if (!more)
            break;
        const std::string& name = finder.GetFileName();
        // A signature is never an archive, though "KEL_V12.zip.minisig" carries a number.
        if (finder.IsDirectory() || finder.IsLink() || !IsPlainFileName(name) || IsSignatureName(name))
            continue;
        best.files.emplace(name, finder.GetLength());
        if (const std::int16_t number = numberOf(name); number > best.number) {
            best.name = name;
            best.size = finder.GetLength();
            best.number = number;
        }
    }
    finder.Close();
    return best;
}

}   // namespace

CKELDownloadThread::CKELDownloadThread()
    : m_settings(GetFtpSettings()), m_stateFolder(GetStateFolder()), m_connections(VORN_FTP_CONNECTIONS_DEFAULT)
{}

CKELDownloadThread::~CKELDownloadThread() = default;

bool CKELDownloadThread::InitInstance()
{
    return true;
}

void CKELDownloadThread::Wire(std::shared_ptr<CNotifyChannel> channel)
{
    m_pDialog = std::move(channel);
    m_pStatusText = m_pDialog ? &m_pDialog->statusText : nullptr;
    m_pAppName = m_pDialog ? &m_pDialog->appName : nullptr;
    m_pUpdateName = m_pDialog ? &m_pDialog->updateName : nullptr;
}

void CKELDownloadThread::PostNotify(unsigned message, std::uint64_t wParam, std::int64_t lParam)
{
    if (m_pDialog)
        m_pDialog->Post(message, wParam, lParam);
}

void CKELDownloadThread::PostBarStart(CNotifyChannel::BarCount counts, std::int64_t range)
{
    if (m_pDialog)
        m_pDialog->barCounts = counts;
    PostNotify(UM_PROGRESS_BAR, 0, range);
}

void CKELDownloadThread::SetText(CTextSlot* slot, const std::string& text)
{
    // Names in these texts come from the server or an archive.
    if (slot)
        slot->Set(PrintableText(text));
}

std::string CKELDownloadThread::CheckInternet(const std::string& host, std::chrono::milliseconds limit,
                                              const std::function<bool()>& stop)
{
    // Both families count: the first answer, IPv6 or IPv4.
    std::vector<std::string> addresses = LookUpHost(host, limit, stop);
    return addresses.empty() ? std::string() : std::move(addresses.front());
}

int CKELDownloadThread::Run()
{
    SetText(m_pStatusText, "Checking Internet");
    PostNotify(UM_FILENAME_UPDATE, kStatusChanged, 0);

    RunResult result = RunResult::InternetFailed;
    m_applicationComplete = false;
    m_release.reset();
    m_runStart =
        std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count();
    m_updateRefused = false;
    // Why the run did not end complete, in words; handed to the front ends at
    // the end, since a status text may be overwritten before it is shown.
    std::string failure;
    if (m_settings.host.empty()) {
        // No host to look up: the run ends before the resolver is asked.
        failure = kNoPublisherHost;
    } else if (m_checkInternet(m_settings.host, m_timeouts.connect, [this] { return StopRequested(); }).empty()) {
        // Nothing to connect to: no attempt is made at all.
        failure = "the server's name does not resolve";
    } else {
        try {
            // The connection goes to the name, so TLS checks the certificate
            // against it and libcurl tries IPv6 and IPv4 addresses alike.
            CFtpConnection connection(
                m_settings.host, m_settings.port, m_settings.user, m_settings.password,
                /*passive=*/true, m_timeouts, [this] { return StopRequested(); }, m_settings.tls);
            const StepResult release = FetchRelease(connection);
            result = release ? RunResult::Complete : RunResult::Failed;
            // A stop is no failure to explain.
            if (release.outcome != StepResult::Outcome::Stopped)
                failure = release.reason;
        } catch (const CInternetException& e) {
            failure = e.Reason();
        } catch (const std::exception& e) {
            failure = e.what();
        } catch (...) {
            // Every other failure of the FTP work ends here too.
            failure = kUnexpectedError;
        }
    }
    if (m_pDialog) {
        m_pDialog->failureReason.Set(result == RunResult::Complete ? std::string() : PrintableText(failure));
        m_pDialog->applicationComplete = m_applicationComplete;
        m_pDialog->updateRefused = m_updateRefused;
    }
    SetText(m_pStatusText, RunResultText(result));
    PostNotify(UM_FILENAME_UPDATE, kJobOver, static_cast<std::int64_t>(result));
    return 0;
}

void CKELDownloadThread::OnUncaughtException() noexcept
{
    try {
        if (m_pDialog)
            m_pDialog->failureReason.Set(kUnexpectedError);
        SetText(m_pStatusText, RunResultText(RunResult::InternetFailed));
        PostNotify(UM_FILENAME_UPDATE, kJobOver, static_cast<std::int64_t>(RunResult::InternetFailed));
    } catch (...) {
        // Out of memory even for that: nothing more can be said.
    }
}

StepResult CKELDownloadThread::FetchRelease(CFtpConnection& connection)
{
    auto announce = [this](const char* status, CTextSlot* slot, const std::string& name, std::uint64_t chosen) {
        SetText(m_pStatusText, status);
        PostNotify(UM_FILENAME_UPDATE, kStatusChanged, 0);
        SetText(slot, BaseName(name));
        PostNotify(UM_FILENAME_UPDATE, chosen, 0);
    };
    const bool inApplicationFolder = connection.SetCurrentDirectory(kApplicationFolders);
    // With a publisher key the signed release list comes first, and both
    // folders are listed before anything is downloaded: a release other than
    // the one the list names costs no byte.
    const bool listed = inApplicationFolder && !m_settings.releaseKey.empty();
    if (listed) {
        if (StepResult accepted = AcceptReleaseList(connection); !accepted)
            return accepted;
    }
    // Without an application there is no release: a missing publisher folder
    // or no qualifying name fails the run.
    const Choice application = inApplicationFolder ? ChooseArchive(connection, ApplicationNumber) : Choice{};
    Choice update;
    if (listed) {
        const bool updateFolder = connection.SetCurrentDirectory(kUpdateFolders);
        if (updateFolder)
            update = ChooseArchive(connection, UpdateNumber);
        if (StepResult matched = MatchRelease(application, update); !matched)
            return matched;
        if (updateFolder && !connection.SetCurrentDirectory(kApplicationFromUpdate))
            return StepResult::Fail(StepResult::Outcome::Failed, "the application folder cannot be entered again");
    }
    if (application.number <= 0) {
        StepResult none = StepResult::Fail(StepResult::Outcome::Failed, "No Application File Found");
        SetText(m_pStatusText, none.reason);
        PostNotify(UM_FILENAME_UPDATE, kStatusChanged, 0);
        return none;
    }
    announce("Found Application File", m_pAppName, application.name, kApplicationChosen);
    StepResult applicationStep = FetchAndUnpack(connection, application.name, application.size, nullptr);
    // Another running copy has it, the disk took no more, or it is not the publisher's.
    if (applicationStep.EndsRun())
        return applicationStep;
    m_applicationComplete = applicationStep.IsDone();

    // A missing update folder or no qualifying update: the application alone
    // is the release (with a list, only when the list names no update).
    if (!connection.SetCurrentDirectory(kUpdateFolders)) {
        if (!listed || update.number <= 0)
            return applicationStep;
        m_applicationComplete = false;
        return StepResult::Fail(StepResult::Outcome::Failed, "the update folder cannot be entered again");
    }
    if (!listed)
        update = ChooseArchive(connection, UpdateNumber);
    if (update.number <= 0)
        return applicationStep;
    announce("Found Update File", m_pUpdateName, update.name, kUpdateChosen);
    const std::string subFolder = BaseName(application.name) + "_UPDATE";
    StepResult updateStep = FetchAndUnpack(connection, update.name, update.size, subFolder.c_str());
    // A release offered with an update that is not the publisher's is not installed.
    if (updateStep.outcome == StepResult::Outcome::Refused) {
        m_updateRefused = m_applicationComplete;
        m_applicationComplete = false;
    }
    // The application's failure, when it had one, is the run's reason.
    return applicationStep ? updateStep : applicationStep;
}

StepResult CKELDownloadThread::FetchAndUnpack(CFtpConnection& connection, const std::string& name, std::uint64_t size,
                                              const char* subFolder)
{
    // Whatever way this ends, an unpacking begun beside the download ends with it.
    class BesideEnd {
    public:
        explicit BesideEnd(CKELDownloadThread& w) : m_w(w) {}
        ~BesideEnd() { m_w.EndUnpackingBeside(); }
        BesideEnd(const BesideEnd&) = delete;
        BesideEnd& operator=(const BesideEnd&) = delete;

    private:
        CKELDownloadThread& m_w;
    } besideEnd(*this);
    m_besideFolder = subFolder ? subFolder : "";
    StepResult step = FetchArchive(connection, name, size);
    m_besideFolder.reset();
    if (!step) {
        // An archive that did not arrive whole is not unpacked.
        if (step.reason.empty())
            step.reason = name + " could not be downloaded";
        return step;
    }
    step = UnpackArchive(name, subFolder);
    if (!step && step.reason.empty())
        step.reason = name + " could not be unpacked";
    return step;
}
