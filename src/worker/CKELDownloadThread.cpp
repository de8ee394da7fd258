#include "worker/CKELDownloadThread.h"

#include "platform/CFtpFileFind.h"
#include "platform/CInternetException.h"
#include "platform/PrintableText.h"
#include "worker/BaseName.h"
#include "worker/LookUpHost.h"
#include "worker/Messages.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <sys/socket.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <functional>

namespace {

// Each walk is one change on the server: it fails where any step would.
const char* const kApplicationFolders = "Digital Product Updates/KEL/KEL Software DVD/ZIP";
const char* const kUpdateFolders = "../../KEL Update DVD/ZIP_Files";

// atoi of the text after "KEL_V", low 16 bits, signed; 0 for other names.
std::int16_t ApplicationNumber(const std::string& name)
{
    if (name.size() < 5 || strncasecmp(name.c_str(), "KEL_V", 5) != 0)
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
    constexpr std::size_t n = 8;   // ".minisig"
    return name.size() >= n && strncasecmp(name.c_str() + name.size() - n, ".minisig", n) == 0;
}

struct Choice {
    std::string name;
    std::uint64_t size = 0;
    std::int16_t number = 0;
};

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
        if (const std::int16_t number = numberOf(name); number > best.number)
            best = {name, finder.GetLength(), number};
    }
    finder.Close();
    return best;
}

}   // namespace

CKELDownloadThread::CKELDownloadThread() : m_settings(GetFtpSettings()), m_connections(VORN_FTP_CONNECTIONS_DEFAULT)
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
    // Both families count: the first answer, IPv6 or IPv4, as text.
    for (const sockaddr_storage& a : LookUpHost(host, limit, stop)) {
        char text[INET6_ADDRSTRLEN];
        const void* raw = a.ss_family == AF_INET6
                              ? static_cast<const void*>(&reinterpret_cast<const sockaddr_in6&>(a).sin6_addr)
                              : static_cast<const void*>(&reinterpret_cast<const sockaddr_in&>(a).sin_addr);
        if (inet_ntop(a.ss_family, raw, text, sizeof text))
            return text;
    }
    return {};
}

int CKELDownloadThread::Run()
{
    SetText(m_pStatusText, "Checking Internet");
    PostNotify(UM_FILENAME_UPDATE, kStatusChanged, 0);

    RunResult result = RunResult::InternetFailed;
    m_applicationComplete = false;
    m_failure.clear();
    if (m_settings.host.empty()) {
        // No host to look up: the run ends before the resolver is asked.
        m_failure = kNoPublisherHost;
    } else if (m_checkInternet(m_settings.host, m_timeouts.connect, [this] { return StopRequested(); }).empty()) {
        // Nothing to connect to: no attempt is made at all.
        m_failure = "the server's name does not resolve";
    } else {
        try {
            // The connection goes to the name, so TLS checks the certificate
            // against it and libcurl tries IPv6 and IPv4 addresses alike.
            CFtpConnection connection(
                m_settings.host, m_settings.port, m_settings.user, m_settings.password,
                /*passive=*/true, m_timeouts, [this] { return StopRequested(); }, m_settings.tls);
            result = FetchRelease(connection) ? RunResult::Complete : RunResult::Failed;
        } catch (const CInternetException& e) {
            m_failure = e.Reason();
        } catch (const std::exception& e) {
            m_failure = e.what();
        } catch (...) {
            // Every other failure of the FTP work ends here too.
        }
    }
    if (m_pDialog) {
        m_pDialog->failureReason.Set(result == RunResult::Complete ? std::string() : PrintableText(m_failure));
        m_pDialog->applicationComplete = m_applicationComplete;
    }
    SetText(m_pStatusText, RunResultText(result));
    PostNotify(UM_FILENAME_UPDATE, kJobOver, static_cast<std::int64_t>(result));
    return 0;
}

void CKELDownloadThread::OnUncaughtException() noexcept
{
    try {
        SetText(m_pStatusText, RunResultText(RunResult::InternetFailed));
        PostNotify(UM_FILENAME_UPDATE, kJobOver, static_cast<std::int64_t>(RunResult::InternetFailed));
    } catch (...) {
        // Out of memory even for that: nothing more can be said.
    }
}

bool CKELDownloadThread::FetchRelease(CFtpConnection& connection)
{
    // Without an application there is no release: a missing publisher folder
    // or no qualifying name fails the run.
    const Choice application =
        connection.SetCurrentDirectory(kApplicationFolders) ? ChooseArchive(connection, ApplicationNumber) : Choice{};
    if (application.number <= 0) {
        m_failure = "No Application File Found";
        SetText(m_pStatusText, m_failure);
        PostNotify(UM_FILENAME_UPDATE, kStatusChanged, 0);
        return false;
    }
    int failedEntries = 0;
    SetText(m_pStatusText, "Found Application File");
    PostNotify(UM_FILENAME_UPDATE, kStatusChanged, 0);
    SetText(m_pAppName, BaseName(application.name));
    PostNotify(UM_FILENAME_UPDATE, kApplicationChosen, 0);
    const StepResult fetched = FetchArchive(connection, application.name, application.size);
    if (fetched.EndsRun())
        return false;   // another running copy has it, the disk took no more, or it is not the publisher's
    // An archive that did not arrive whole is not unpacked.
    bool ok = fetched.IsDone() && UnpackArchive(application.name, nullptr, &failedEntries) && failedEntries == 0;
    m_applicationComplete = ok;

    // A missing update folder or no qualifying update: the application alone is the release.
    if (!connection.SetCurrentDirectory(kUpdateFolders))
        return ok;
    const Choice update = ChooseArchive(connection, UpdateNumber);
    if (update.number > 0) {
        SetText(m_pStatusText, "Found Update File");
        PostNotify(UM_FILENAME_UPDATE, kStatusChanged, 0);
        SetText(m_pUpdateName, BaseName(update.name));
        PostNotify(UM_FILENAME_UPDATE, kUpdateChosen, 0);
        const StepResult fetchedUpdate = FetchArchive(connection, update.name, update.size);
        // A release offered with an update that is not the publisher's is not installed.
        if (fetchedUpdate.outcome == StepResult::Outcome::Refused)
            m_applicationComplete = false;
        if (fetchedUpdate.EndsRun())
            return false;
        const std::string subFolder = BaseName(application.name) + "_UPDATE";
        ok &= fetchedUpdate.IsDone() && UnpackArchive(update.name, subFolder.c_str(), &failedEntries) &&
              failedEntries == 0;
    }
    return ok;
}
