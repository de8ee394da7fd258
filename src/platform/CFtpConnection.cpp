#include "platform/CFtpConnection.h"

#include "platform/CFtpFile.h"
#include "platform/CInternetException.h"
#include "platform/CurlGlobalInit.h"
#include "platform/CurlHandles.h"
#include "platform/ProxyRules.h"
#include "platform/SystemProxy.h"

#ifdef _WIN32
// curl.h brings windows.h, whose macros would rename these members to their
// ANSI Win32 namesakes here but not in the header's other readers.
#undef SetCurrentDirectory
#undef GetCurrentDirectory
#else
#include <sys/select.h>   // fd_set; on Windows curl.h brings winsock's
#endif

#include <mutex>

namespace {

void GlobalInit()
{
    static std::once_flag once;
    static CURLcode result = CURLE_OK;
    std::call_once(once, [] { result = CurlGlobalInit(); });
    if (result != CURLE_OK)
        throw CInternetException(FtpError::Other, "cannot start libcurl");
}

struct ListState {
    std::vector<FtpEntry>* entries;
};

long OnListEntry(const void* info, void* data, int)
{
    const auto* file = static_cast<const curl_fileinfo*>(info);
    auto* state = static_cast<ListState*>(data);
    FtpEntry entry;
    entry.name = file->filename ? file->filename : "";
    entry.size = (file->flags & CURLFINFOFLAG_KNOWN_SIZE) ? static_cast<std::uint64_t>(file->size) : 0;
    entry.isFolder = file->filetype == CURLFILETYPE_DIRECTORY;
    entry.isLink = file->filetype == CURLFILETYPE_SYMLINK;
    state->entries->push_back(std::move(entry));
    // Only the names and sizes are wanted; never transfer anything.
    return CURL_CHUNK_BGN_FUNC_SKIP;
}

// An IPv6 address goes into the URL in brackets, its zone's "%" escaped.
std::string UrlHost(const std::string& host)
{
    if (host.find(':') == std::string::npos || host.front() == '[')
        return host;
    std::string out = "[";
    for (char c : host)
        out += c == '%' ? std::string("%25") : std::string(1, c);
    return out + "]";
}

std::vector<std::string> SplitPath(const std::string& path)
{
    std::vector<std::string> parts;
    std::size_t from = 0;
    while (from <= path.size()) {
        const std::size_t slash = std::min(path.find('/', from), path.size());
        parts.push_back(path.substr(from, slash - from));
        from = slash + 1;
    }
    return parts;
}

// The kind of failure a libcurl result is.
FtpError KindOf(CURLcode code)
{
    switch (code) {
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
        return FtpError::NameNotResolved;
    case CURLE_COULDNT_CONNECT:
        return FtpError::CannotConnect;
    case CURLE_LOGIN_DENIED:
        return FtpError::LoginRefused;
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CACERT_BADFILE:
        return FtpError::CertificateNotTrusted;
    case CURLE_USE_SSL_FAILED:
    case CURLE_SSL_CONNECT_ERROR:
        return FtpError::TlsFailed;
    case CURLE_REMOTE_ACCESS_DENIED:
    case CURLE_REMOTE_FILE_NOT_FOUND:
    case CURLE_FTP_COULDNT_RETR_FILE:
        return FtpError::NoSuchFileOrFolder;
    case CURLE_FTP_BAD_FILE_LIST:
        return FtpError::ListingNotReadable;
    case CURLE_FTP_COULDNT_USE_REST:
    case CURLE_BAD_DOWNLOAD_RESUME:
        return FtpError::ResumeRefused;
    case CURLE_WRITE_ERROR:
        return FtpError::SinkRefused;
    case CURLE_OPERATION_TIMEDOUT:
        return FtpError::TimedOut;
    case CURLE_ABORTED_BY_CALLBACK:
        return FtpError::Stopped;
    case CURLE_PARTIAL_FILE:
    case CURLE_RECV_ERROR:
    case CURLE_SEND_ERROR:
    case CURLE_GOT_NOTHING:
    case CURLE_FTP_ACCEPT_FAILED:
    case CURLE_FTP_ACCEPT_TIMEOUT:
    case CURLE_FTP_CANT_GET_HOST:
    case CURLE_FTP_WEIRD_PASV_REPLY:
    case CURLE_FTP_WEIRD_227_FORMAT:
    case CURLE_FTP_PORT_FAILED:
        return FtpError::TransferBroken;
    default:
        return FtpError::Other;
    }
}

// What the user is told when a session fails, in words.
std::string ReasonFor(CURLcode code, const std::string& detail)
{
    switch (code) {
    case CURLE_PEER_FAILED_VERIFICATION:
        if (detail.find("host name") != std::string::npos)
            return "the server's certificate is for another name";
        if (detail.find("expired") != std::string::npos)
            return "the server's certificate has expired";
        return "the server's certificate is not trusted";
    case CURLE_USE_SSL_FAILED:
        return "the server does not offer an encrypted session";
    case CURLE_SSL_CONNECT_ERROR:
        return "the encrypted session with the server could not be set up";
    case CURLE_SSL_CACERT_BADFILE:
        return "the trusted certificate built in cannot be read";
    case CURLE_COULDNT_RESOLVE_HOST:
        return "the server's name does not resolve";
    case CURLE_COULDNT_RESOLVE_PROXY:
        return "the proxy's name does not resolve";
    case CURLE_COULDNT_CONNECT:
        return "the server cannot be reached";
    case CURLE_LOGIN_DENIED:
        return "the server refused the login";
    case CURLE_OPERATION_TIMEDOUT:
        return "the server did not answer in time";
    case CURLE_ABORTED_BY_CALLBACK:
        return "stopped";
    default:
        return curl_easy_strerror(code);
    }
}

}   // namespace

static_assert(FtpPause == CURL_WRITEFUNC_PAUSE, "FtpPause is handed to libcurl as its pause value");

struct CFtpConnection::Impl {
    Impl(const std::string& host, long port, const std::string& user, const std::string& password, bool passive,
         FtpTimeouts timeouts, std::function<bool()> cancelled, const FtpTls& tls);
    ~Impl();
    Impl(const Impl&) = delete;
    Impl& operator=(const Impl&) = delete;

    bool SetCurrentDirectory(const std::string& folder);
    std::string GetCurrentDirectory() const;
    std::vector<FtpEntry> List();
    bool BeginTransfer(const std::string& name, FtpSink sink, std::uint64_t offset, bool fileTime);
    bool DriveTransfer();
    void ResumeTransfer();
    void EndTransfer();
    void AbortTransfer() noexcept;
    std::int64_t CurrentFileTime() const;

    enum class Transfer { None, Running, Paused, Ended };

    static std::size_t OnData(char* data, std::size_t size, std::size_t count, void* self);
    std::string UrlFor(const std::vector<std::string>& folder, const std::string& file) const;
    void Prepare(const std::string& url);
    // Drives the easy handle in the multi handle until the request is done.
    CURLcode Perform();
    // Runs curl once without waiting; true when the request finished (its result in `result`).
    bool Drive(CURLcode& result);
    // Waits at most 100 ms for a socket; throws when cancelled.
    void Wait();
    void Attach();
    void Detach() noexcept;
    // Takes a transfer that curl reports done off the multi handle.
    void TakeOffEnded();
    void ThrowIfCancelled() const;
    void ThrowIfBusy() const;
    [[noreturn]] void Throw(CURLcode code) const;
    void UseSystemProxy(const std::string& host, long port, std::chrono::milliseconds bound);
    template <typename T>
    void Set(CURLoption option, T value);

    CurlEasy m_easy;
    CurlMulti m_multi;
    std::string m_base;
    // The login folder as the server named it ("/" mostly); with it every
    // request names its folder in full, and no request climbs back there first.
    std::string m_entry;
    std::vector<std::string> m_folder;
    std::function<bool()> m_cancelled;
    char m_error[CURL_ERROR_SIZE] = {};
    bool m_attached = false;
    Transfer m_transfer = Transfer::None;
    FtpSink m_sink;
    std::uint64_t m_offset = 0;
    std::int64_t m_fileTime = -1;
    std::string m_proxy;   // the system's, when it gives one
};

template <typename T>
void CFtpConnection::Impl::Set(CURLoption option, T value)
{
    if (CURLcode rc = curl_easy_setopt(m_easy.get(), option, value); rc != CURLE_OK)
        throw CInternetException(KindOf(rc), std::string("cannot set up the FTP session: ") + curl_easy_strerror(rc));
}

CFtpConnection::Impl::Impl(const std::string& host, long port, const std::string& user, const std::string& password,
                           bool passive, FtpTimeouts timeouts, std::function<bool()> cancelled, const FtpTls& tls)
    : m_cancelled(std::move(cancelled))
{
    GlobalInit();
    m_easy.reset(curl_easy_init());
    m_multi.reset(curl_multi_init());
    if (!m_easy || !m_multi)
        throw CInternetException(FtpError::Other, "cannot create an FTP session");
    if (host.empty())
        throw CInternetException(FtpError::Other, "no server named", "no server named");
    m_base = "ftp://" + UrlHost(host) + ":" + std::to_string(port) + "/";

    Set(CURLOPT_ERRORBUFFER, m_error);
    Set(CURLOPT_NOSIGNAL, 1L);
#if LIBCURL_VERSION_NUM >= 0x075500
    Set(CURLOPT_PROTOCOLS_STR, "ftp");
#endif
    Set(CURLOPT_USERNAME, user.c_str());
    Set(CURLOPT_PASSWORD, password.c_str());
    // ".." must reach the server as a folder change, not be folded away in the URL.
    Set(CURLOPT_PATH_AS_IS, 1L);
    if (!passive)
        Set(CURLOPT_FTPPORT, "-");
    Set(CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(timeouts.connect.count()));
    Set(CURLOPT_SERVER_RESPONSE_TIMEOUT, static_cast<long>((timeouts.stall.count() + 999) / 1000));
    Set(CURLOPT_LOW_SPEED_LIMIT, 1L);
    Set(CURLOPT_LOW_SPEED_TIME, static_cast<long>((timeouts.stall.count() + 999) / 1000));
    // Fewer, larger reads: on a fast path a 256 KiB buffer took about 15 %
    // less time than 64 KiB for a 2 GiB file (512 KiB gained nothing more).
    Set(CURLOPT_BUFFERSIZE, 256L * 1024);
    Set(CURLOPT_TCP_KEEPALIVE, 1L);
    // A proxy from ftp_proxy or all_proxy (curl reads them) that speaks HTTP
    // would turn each request into an HTTP one, without folders or listings:
    // tunnel through it instead, so the session stays FTP end to end.
    Set(CURLOPT_HTTPPROXYTUNNEL, 1L);
    UseSystemProxy(host, port, timeouts.connect);
    Set(CURLOPT_WRITEFUNCTION, &Impl::OnData);
    Set(CURLOPT_WRITEDATA, this);

    const long useSsl = tls.mode == FtpTls::Mode::Off       ? CURLUSESSL_NONE
                        : tls.mode == FtpTls::Mode::Require ? CURLUSESSL_ALL
                                                            : CURLUSESSL_TRY;
    Set(CURLOPT_USE_SSL, useSsl);
    if (tls.mode != FtpTls::Mode::Off) {
        Set(CURLOPT_FTPSSLAUTH, static_cast<long>(CURLFTPAUTH_TLS));
        Set(CURLOPT_SSLVERSION, static_cast<long>(CURL_SSLVERSION_TLSv1_2));
        Set(CURLOPT_SSL_VERIFYPEER, 1L);
        Set(CURLOPT_SSL_VERIFYHOST, 2L);
        // The data connections resume the control connection's TLS session;
        // servers like vsftpd refuse them otherwise.
        Set(CURLOPT_SSL_SESSIONID_CACHE, 1L);
#ifdef _WIN32
        // The Windows store's authorities; the libcurl here has no file or
        // folder of its own. Nothing else in these options: none weakens a check.
        Set(CURLOPT_SSL_OPTIONS, static_cast<long>(CURLSSLOPT_NATIVE_CA));
#endif
        // Trusted beside them, in the same store. On Linux the certificates
        // take the place of libcurl's bundle file, and the system's certificate
        // folder (libcurl's CA path, /etc/ssl/certs in Debian's) is searched
        // beside them as before.
        if (!tls.caPem.empty()) {
            curl_blob blob{const_cast<char*>(tls.caPem.data()), tls.caPem.size(), CURL_BLOB_COPY};
            Set(CURLOPT_CAINFO_BLOB, &blob);
        }
    }

    // Log in by asking for the login folder itself without a transfer.
    Prepare(m_base);
    Set(CURLOPT_NOBODY, 1L);
    if (CURLcode rc = Perform(); rc != CURLE_OK)
        Throw(rc);
    const char* entry = nullptr;
    if (curl_easy_getinfo(m_easy.get(), CURLINFO_FTP_ENTRY_PATH, &entry) == CURLE_OK && entry && entry[0] == '/')
        m_entry = entry;
}

CFtpConnection::Impl::~Impl()
{
    Detach();
}

std::size_t CFtpConnection::Impl::OnData(char* data, std::size_t size, std::size_t count, void* self)
{
    auto* c = static_cast<Impl*>(self);
    const std::size_t total = size * count;
    if (!c->m_sink)
        return total;   // a listing's or a folder check's body: not wanted
    std::size_t taken = 0;
    try {
        taken = c->m_sink(c->m_offset, data, total);
    } catch (...) {
        return 0;   // nothing may escape into libcurl; cuts the transfer
    }
    if (taken == FtpPause) {
        c->m_transfer = Transfer::Paused;
        return CURL_WRITEFUNC_PAUSE;
    }
    if (taken == total)
        c->m_offset += total;
    return taken;
}

std::string CFtpConnection::Impl::UrlFor(const std::vector<std::string>& folder, const std::string& file) const
{
    std::string url = m_base;
    auto append = [&](const std::string& part) {
        char* escaped = curl_easy_escape(m_easy.get(), part.c_str(), static_cast<int>(part.size()));
        if (!escaped)
            throw CInternetException(FtpError::Other, "cannot build a URL");
        url += escaped;
        curl_free(escaped);
    };
    std::vector<std::string> path = folder;
    if (!m_entry.empty()) {
        // "//x/" names "/x" from the server's root.
        url += '/';
        std::vector<std::string> entry;
        for (auto& part : SplitPath(m_entry))
            if (!part.empty())
                entry.push_back(part);
        path.insert(path.begin(), entry.begin(), entry.end());
    }
    for (const auto& part : path) {
        // ".." is kept literal so that it reaches the server as it is.
        if (part == "..")
            url += "..";
        else
            append(part);
        url += '/';
    }
    if (!file.empty())
        append(file);
    return url;
}

void CFtpConnection::Impl::Prepare(const std::string& url)
{
    ThrowIfBusy();
    m_transfer = Transfer::None;
    m_sink = nullptr;
    m_error[0] = '\0';
    Set(CURLOPT_URL, url.c_str());
    Set(CURLOPT_NOBODY, 0L);
    Set(CURLOPT_WILDCARDMATCH, 0L);
    Set(CURLOPT_RESUME_FROM_LARGE, static_cast<curl_off_t>(0));
    Set(CURLOPT_FILETIME, 0L);
    Set(CURLOPT_IGNORE_CONTENT_LENGTH, 0L);
    // One CWD to the request's whole folder, and none when it is the folder
    // of the request before.
    Set(CURLOPT_FTP_FILEMETHOD, static_cast<long>(CURLFTPMETHOD_SINGLECWD));
}

void CFtpConnection::Impl::ThrowIfCancelled() const
{
    if (m_cancelled && m_cancelled())
        throw CInternetException(FtpError::Stopped, "cancelled", ReasonFor(CURLE_ABORTED_BY_CALLBACK, {}));
}

void CFtpConnection::Impl::ThrowIfBusy() const
{
    if (m_transfer == Transfer::Running || m_transfer == Transfer::Paused)
        throw CInternetException(FtpError::Other, "a transfer is still running on this connection");
}

void CFtpConnection::Impl::Throw(CURLcode code) const
{
    std::string what = curl_easy_strerror(code);
    if (m_error[0])
        what += std::string(": ") + m_error;
    // Many proxies tunnel only to ports 443 and 80: say which one refused.
    long tunnel = 0;
    if (curl_easy_getinfo(m_easy.get(), CURLINFO_HTTP_CONNECTCODE, &tunnel) == CURLE_OK && tunnel >= 300) {
        std::string reason = "the proxy ";
        reason += ProxyShownAs(m_proxy.empty() ? ProxyFromEnvironment().value_or("") : m_proxy);
        reason += " refused the tunnel to the server (HTTP " + std::to_string(tunnel) + ")";
        throw CInternetException(FtpError::CannotConnect, what, reason);
    }
    if (code == CURLE_COULDNT_CONNECT && !m_proxy.empty()) {
        std::string reason = "the proxy ";
        reason += ProxyShownAs(m_proxy) + " cannot be reached";
        throw CInternetException(FtpError::CannotConnect, what, reason);
    }
    throw CInternetException(KindOf(code), what, ReasonFor(code, m_error));
}

// The proxy set in the system, where the environment names none: Windows users
// set theirs in Internet Options, as the original's preconfigured access read.
void CFtpConnection::Impl::UseSystemProxy(const std::string& host, long port, std::chrono::milliseconds bound)
{
    if (ProxyFromEnvironment())
        return;
    m_proxy = SystemProxyFor(host, port, bound, m_cancelled);
    if (m_proxy.empty())
        return;
    Set(CURLOPT_PROXY, m_proxy.c_str());
    // A proxy that asks who is there is answered with the user's own Windows
    // logon, where libcurl reaches it through SSPI (":" names no one else).
    if (curl_version_info(CURLVERSION_NOW)->features & CURL_VERSION_SSPI) {
        Set(CURLOPT_PROXYAUTH, static_cast<long>(CURLAUTH_NTLM | CURLAUTH_NEGOTIATE));
        Set(CURLOPT_PROXYUSERPWD, ":");
    }
}

void CFtpConnection::Impl::Attach()
{
    if (CURLMcode mc = curl_multi_add_handle(m_multi.get(), m_easy.get()); mc != CURLM_OK)
        throw CInternetException(FtpError::Other, curl_multi_strerror(mc));
    m_attached = true;
}

void CFtpConnection::Impl::Detach() noexcept
{
    if (!m_attached)
        return;
    m_attached = false;
    // Fails only for a handle that is not attached, which the flag rules out.
    curl_multi_remove_handle(m_multi.get(), m_easy.get());
}

void CFtpConnection::Impl::Wait()
{
    ThrowIfCancelled();
    // The poll wakes as soon as a socket is ready; the 100 ms bound keeps the
    // cancellation check and curl's own timers running. While a data
    // connection is being made, curl 7.88 watches no socket at all (fixed in
    // curl 8.7), and each connection would sit out the whole bound: then
    // look again soon.
    fd_set read, write, error;
    FD_ZERO(&read);
    FD_ZERO(&write);
    FD_ZERO(&error);
    int highest = -1;
    if (curl_multi_fdset(m_multi.get(), &read, &write, &error, &highest) != CURLM_OK)
        highest = -1;   // then the short bound; the poll below reports a broken handle
    const int bound = highest < 0 ? 5 : 100;
    if (CURLMcode mc = curl_multi_poll(m_multi.get(), nullptr, 0, bound, nullptr); mc != CURLM_OK)
        throw CInternetException(FtpError::Other, curl_multi_strerror(mc));
    ThrowIfCancelled();
}

bool CFtpConnection::Impl::Drive(CURLcode& result)
{
    int running = 0;
    if (CURLMcode mc = curl_multi_perform(m_multi.get(), &running); mc != CURLM_OK)
        throw CInternetException(FtpError::Other, curl_multi_strerror(mc));
    int queued = 0;
    while (CURLMsg* msg = curl_multi_info_read(m_multi.get(), &queued)) {
        if (msg->msg == CURLMSG_DONE && msg->easy_handle == m_easy.get()) {
            result = msg->data.result;
            return true;
        }
    }
    return false;
}

CURLcode CFtpConnection::Impl::Perform()
{
    ThrowIfBusy();
    Attach();
    CURLcode result = CURLE_OK;
    try {
        while (!Drive(result))
            Wait();
    } catch (...) {
        Detach();
        throw;
    }
    Detach();
    return result;
}

bool CFtpConnection::Impl::SetCurrentDirectory(const std::string& folder)
{
    std::vector<std::string> next = m_folder;
    bool climbedOnly = true;
    for (const auto& part : SplitPath(folder)) {
        if (part.empty())
            return false;   // an absolute path or an empty name
        if (part == ".")
            continue;
        if (part == ".." && !next.empty() && next.back() != "..") {
            next.pop_back();   // the parent of a folder we entered exists
            continue;
        }
        next.push_back(part);
        climbedOnly = false;
    }
    if (climbedOnly) {
        m_folder = std::move(next);
        return true;
    }
    Prepare(UrlFor(next, {}));
    Set(CURLOPT_NOBODY, 1L);
    switch (CURLcode rc = Perform()) {
    case CURLE_OK:
        m_folder = std::move(next);
        return true;
    case CURLE_REMOTE_ACCESS_DENIED:   // CWD refused: no such folder
    case CURLE_REMOTE_FILE_NOT_FOUND:
        return false;
    default:
        Throw(rc);
    }
}

std::string CFtpConnection::Impl::GetCurrentDirectory() const
{
    std::string path = "/";
    for (const auto& part : m_folder)
        path += part + "/";
    return path;
}

std::vector<FtpEntry> CFtpConnection::Impl::List()
{
    std::vector<FtpEntry> entries;
    ListState state{&entries};
    Prepare(UrlFor(m_folder, {}) + "*");
    Set(CURLOPT_WILDCARDMATCH, 1L);
    Set(CURLOPT_CHUNK_BGN_FUNCTION, OnListEntry);
    Set(CURLOPT_CHUNK_DATA, &state);
    CURLcode rc = Perform();
    Set(CURLOPT_WILDCARDMATCH, 0L);
    Set(CURLOPT_CHUNK_BGN_FUNCTION, nullptr);
    Set(CURLOPT_CHUNK_DATA, nullptr);
    // An empty folder matches nothing, which curl reports as "not found".
    if (rc != CURLE_OK && !(rc == CURLE_REMOTE_FILE_NOT_FOUND && entries.empty()))
        Throw(rc);
    return entries;
}

std::unique_ptr<CFtpFile> CFtpConnection::OpenFile(const std::string& name)
{
    auto file = std::make_unique<CFtpFile>(*this);
    if (!file->Open(name))
        return nullptr;
    return file;
}

bool CFtpConnection::Impl::BeginTransfer(const std::string& name, FtpSink sink, std::uint64_t offset, bool fileTime)
{
    if (name.empty() || name.find('/') != std::string::npos)
        return false;
    Prepare(UrlFor(m_folder, name));
    Set(CURLOPT_TRANSFERTEXT, 0L);
    Set(CURLOPT_RESUME_FROM_LARGE, static_cast<curl_off_t>(offset));
    Set(CURLOPT_FILETIME, fileTime ? 1L : 0L);
    // The size is known from the listing: no SIZE before the RETR. libcurl
    // sends REST only on its way through SIZE, so a later start keeps it.
    Set(CURLOPT_IGNORE_CONTENT_LENGTH, offset == 0 ? 1L : 0L);
    // A file named from the server's root needs no CWD at all; curl would
    // repeat the one the listing of this folder already made.
    if (!m_entry.empty())
        Set(CURLOPT_FTP_FILEMETHOD, static_cast<long>(CURLFTPMETHOD_NOCWD));
    m_sink = std::move(sink);
    m_offset = offset;
    m_fileTime = -1;
    Attach();
    m_transfer = Transfer::Running;
    CURLcode result = CURLE_OK;
    bool ended = false;
    try {
        // Until the first piece arrives. One the sink holds pauses the
        // transfer: curl then watches no socket, so no wait may follow.
        while (!(ended = Drive(result)) && m_offset == offset && m_transfer == Transfer::Running)
            Wait();
    } catch (...) {
        AbortTransfer();
        throw;
    }
    if (!ended)
        return true;
    // A small file can be over already.
    TakeOffEnded();
    switch (result) {
    case CURLE_OK:
        return true;
    case CURLE_REMOTE_FILE_NOT_FOUND:
    case CURLE_REMOTE_ACCESS_DENIED:
    case CURLE_FTP_COULDNT_RETR_FILE:
        m_transfer = Transfer::None;
        return false;
    default:
        Throw(result);
    }
}

void CFtpConnection::Impl::TakeOffEnded()
{
    Detach();
    m_sink = nullptr;
    m_transfer = Transfer::Ended;
    long fileTime = -1;
    // Unknown unless asked for; stays -1 then.
    if (curl_easy_getinfo(m_easy.get(), CURLINFO_FILETIME, &fileTime) == CURLE_OK)
        m_fileTime = fileTime;
}

std::int64_t CFtpConnection::Impl::CurrentFileTime() const
{
    long fileTime = -1;
    // curl notes the time as the server's MDTM reply comes, before the RETR.
    if (curl_easy_getinfo(m_easy.get(), CURLINFO_FILETIME, &fileTime) != CURLE_OK)
        return -1;
    return fileTime;
}

bool CFtpConnection::Impl::DriveTransfer()
{
    if (m_transfer != Transfer::Running && m_transfer != Transfer::Paused)
        return true;
    const std::uint64_t before = m_offset;
    CURLcode result = CURLE_OK;
    try {
        if (!Drive(result)) {
            // No waiting while the sink holds the transfer or has just been fed.
            if (m_transfer == Transfer::Running && m_offset == before)
                Wait();
            return false;
        }
    } catch (...) {
        AbortTransfer();
        throw;
    }
    TakeOffEnded();
    if (result != CURLE_OK)
        Throw(result);
    return true;
}

void CFtpConnection::Impl::ResumeTransfer()
{
    if (m_transfer != Transfer::Paused)
        return;
    m_transfer = Transfer::Running;
    // May hand the held piece to the sink right here, which may pause again.
    if (CURLcode rc = curl_easy_pause(m_easy.get(), CURLPAUSE_CONT); rc != CURLE_OK) {
        AbortTransfer();
        Throw(rc);
    }
}

void CFtpConnection::Impl::EndTransfer()
{
    ResumeTransfer();
    while (!DriveTransfer()) {
    }
    m_transfer = Transfer::None;
}

void CFtpConnection::Impl::AbortTransfer() noexcept
{
    // Removing an unfinished transfer aborts it; curl drops that connection
    // and logs in again on the next request.
    Detach();
    m_transfer = Transfer::None;
    m_sink = nullptr;
}

CFtpConnection::CFtpConnection(const std::string& host, long port, const std::string& user, const std::string& password,
                               bool passive, FtpTimeouts timeouts, std::function<bool()> cancelled, const FtpTls& tls)
    : m_impl(std::make_unique<Impl>(host, port, user, password, passive, timeouts, std::move(cancelled), tls))
{}

CFtpConnection::~CFtpConnection() = default;

bool CFtpConnection::SetCurrentDirectory(const std::string& folder)
{
    return m_impl->SetCurrentDirectory(folder);
}

std::string CFtpConnection::GetCurrentDirectory() const
{
    return m_impl->GetCurrentDirectory();
}

std::vector<FtpEntry> CFtpConnection::List()
{
    return m_impl->List();
}

bool CFtpConnection::BeginTransfer(const std::string& name, FtpSink sink, std::uint64_t offset, bool fileTime)
{
    return m_impl->BeginTransfer(name, std::move(sink), offset, fileTime);
}

bool CFtpConnection::DriveTransfer()
{
    return m_impl->DriveTransfer();
}

void CFtpConnection::ResumeTransfer()
{
    m_impl->ResumeTransfer();
}

bool CFtpConnection::TransferPaused() const
{
    return m_impl->m_transfer == Impl::Transfer::Paused;
}

void CFtpConnection::EndTransfer()
{
    m_impl->EndTransfer();
}

void CFtpConnection::AbortTransfer() noexcept
{
    m_impl->AbortTransfer();
}

std::int64_t CFtpConnection::TransferFileTime() const
{
    return m_impl->m_fileTime;
}

void CFtpConnection::SetCancelled(std::function<bool()> cancelled)
{
    m_impl->m_cancelled = std::move(cancelled);
}

std::int64_t CFtpConnection::CurrentFileTime() const
{
    return m_impl->CurrentFileTime();
}
