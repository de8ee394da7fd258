#include "worker/CKELDownloadThread.h"

#include "platform/CFtpFileFind.h"
#include "platform/CInternetException.h"
#include "worker/BaseName.h"
#include "worker/Messages.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <sys/socket.h>

#include <algorithm>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <mutex>
#include <system_error>
#include <thread>

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
    auto field = [&](std::size_t from) {
        return from < name.size() ? std::atoi(name.substr(from, 2).c_str()) : 0;
    };
    return static_cast<std::int16_t>(field(6) + 100 * field(9));
}

// The first address of `host`, IPv6 or IPv4, as text; empty when it does not resolve.
std::string FirstAddress(const std::string& host)
{
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_CANONNAME;
    addrinfo* result = nullptr;
    if (host.empty() || getaddrinfo(host.c_str(), nullptr, &hints, &result) != 0 || !result)
        return {};
    std::string address;
    for (const addrinfo* a = result; a && address.empty(); a = a->ai_next) {
        char text[260];
        const void* raw = nullptr;
        if (a->ai_family == AF_INET6)
            raw = &reinterpret_cast<const sockaddr_in6*>(a->ai_addr)->sin6_addr;
        else if (a->ai_family == AF_INET)
            raw = &reinterpret_cast<const sockaddr_in*>(a->ai_addr)->sin_addr;
        if (raw && inet_ntop(a->ai_family, raw, text, sizeof text))
            address = text;
    }
    freeaddrinfo(result);
    return address;
}

struct Choice {
    std::string name;
    std::uint64_t size = 0;
    std::int16_t number = 0;
};

// Lists the current folder and keeps the entry with the greatest number;
// ties keep the earlier entry. The listing is closed before returning.
Choice ChooseArchive(CFtpConnection& connection, const std::function<std::int16_t(const std::string&)>& numberOf)
{
    Choice best;
    CFtpFileFind finder(connection);
    bool more = finder.FindFile();
    while (more) {
        more = finder.FindNextFile();
        if (!more)
            break;
        const std::string& name = finder.GetFileName();
        if (const std::int16_t number = numberOf(name); number > best.number)
            best = {name, finder.GetLength(), number};
    }
    finder.Close();
    return best;
}

} // namespace

CKELDownloadThread::CKELDownloadThread() : m_settings(GetFtpSettings()) {}

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

void CKELDownloadThread::PostNotify(unsigned message, std::uint32_t wParam, std::int32_t lParam)
{
    if (m_pDialog)
        m_pDialog->Post(message, wParam, lParam);
}

void CKELDownloadThread::SetText(CTextSlot* slot, std::string text)
{
    if (slot)
        slot->Set(std::move(text));
}

std::string CKELDownloadThread::CheckInternet(const std::string& host, std::chrono::milliseconds limit,
                                              const std::function<bool()>& stop)
{
    // getaddrinfo has no timeout of its own and cannot be interrupted: it runs
    // on a thread of its own, which is left to finish alone when the wait ends.
    struct Lookup {
        std::mutex lock;
        std::condition_variable done;
        bool finished = false;
        std::string address;
    };
    auto lookup = std::make_shared<Lookup>();
    auto resolve = [lookup, host] {
        std::string address = FirstAddress(host);
        std::lock_guard guard(lookup->lock);
        lookup->address = std::move(address);
        lookup->finished = true;
        lookup->done.notify_all();
    };
    try {
        std::thread(resolve).detach();
    } catch (const std::system_error&) {
        resolve();   // no thread to spare: wait for the lookup itself
    }
    const auto deadline = std::chrono::steady_clock::now() + limit;
    std::unique_lock guard(lookup->lock);
    while (!lookup->finished) {
        const auto now = std::chrono::steady_clock::now();
        if ((stop && stop()) || now >= deadline)
            return {};
        lookup->done.wait_for(guard, std::min<std::chrono::steady_clock::duration>(std::chrono::milliseconds(100), deadline - now));
    }
    return lookup->address;
}

int CKELDownloadThread::Run()
{
    SetText(m_pStatusText, "Checking Internet");
    PostNotify(UM_FILENAME_UPDATE, kStatusChanged, 0);

    std::string verdict = "Internet Failed";
    std::string reason;
    if (CheckInternet(m_settings.host, m_timeouts.connect, [this] { return StopRequested(); }).empty()) {
        // Nothing to connect to: no attempt is made at all.
        reason = "the server's name does not resolve";
    } else {
        try {
            // The connection goes to the name, so TLS checks the certificate
            // against it and libcurl tries IPv6 and IPv4 addresses alike.
            CFtpConnection connection(m_settings.host, m_settings.port, m_settings.user, m_settings.password,
                                      /*passive=*/true, m_timeouts, [this] { return StopRequested(); },
                                      m_settings.tls);
            verdict = FetchRelease(connection) ? "Download Complete" : "Download Failed - Try Again";
        } catch (const CInternetException& e) {
            reason = e.Reason();
        } catch (const std::exception& e) {
            // A local write that failed, for one.
            reason = e.what();
        } catch (...) {
            // Every other failure of the FTP work ends here too.
        }
    }
    if (m_pDialog)
        m_pDialog->failureReason.Set(verdict == "Internet Failed" ? reason : std::string());
    SetText(m_pStatusText, verdict);
    PostNotify(UM_FILENAME_UPDATE, kJobOver, 0);
    return 0;
}

void CKELDownloadThread::OnUncaughtException() noexcept
{
    try {
        SetText(m_pStatusText, "Internet Failed");
        PostNotify(UM_FILENAME_UPDATE, kJobOver, 0);
    } catch (...) {
        // Out of memory even for that: nothing more can be said.
    }
}

bool CKELDownloadThread::FetchRelease(CFtpConnection& connection)
{
    if (!connection.SetCurrentDirectory(kApplicationFolders))
        return true;   // a missing folder is not a failure of the run

    const Choice application = ChooseArchive(connection, ApplicationNumber);
    if (application.number <= 0)
        return true;       // nothing qualifies; the update folders are not visited
    bool ok = true;
    int failedEntries = 0;
    SetText(m_pStatusText, "Found Application File");
    PostNotify(UM_FILENAME_UPDATE, kStatusChanged, 0);
    SetText(m_pAppName, BaseName(application.name));
    PostNotify(UM_FILENAME_UPDATE, kApplicationChosen, 0);
    ok &= DownloadFile(connection, application.name, application.size);
    if (m_archiveInUse)
        return false;   // another running copy has it: left alone
    ok &= UnpackArchive(application.name, nullptr, &failedEntries) && failedEntries == 0;

    if (!connection.SetCurrentDirectory(kUpdateFolders))
        return ok;

    const Choice update = ChooseArchive(connection, UpdateNumber);
    if (update.number > 0) {
        SetText(m_pStatusText, "Found Update File");
        PostNotify(UM_FILENAME_UPDATE, kStatusChanged, 0);
        SetText(m_pUpdateName, BaseName(update.name));
        PostNotify(UM_FILENAME_UPDATE, kUpdateChosen, 0);
        ok &= DownloadFile(connection, update.name, update.size);
        if (m_archiveInUse)
            return false;
        const std::string subFolder = BaseName(application.name) + "_UPDATE";
        ok &= UnpackArchive(update.name, subFolder.c_str(), &failedEntries) && failedEntries == 0;
    }
    return ok;
}
