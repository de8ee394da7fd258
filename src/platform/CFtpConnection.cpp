#include "platform/CFtpConnection.h"

#include "platform/CFtpFile.h"
#include "platform/CurlGlobalInit.h"
#include "platform/CInternetException.h"

#include <mutex>

namespace {

void GlobalInit()
{
    static std::once_flag once;
    std::call_once(once, [] { CurlGlobalInit(); });
}

std::size_t Discard(char*, std::size_t size, std::size_t count, void*)
{
    return size * count;
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
    state->entries->push_back(std::move(entry));
    // Only the names and sizes are wanted; never transfer anything.
    return CURL_CHUNK_BGN_FUNC_SKIP;
}

} // namespace

CFtpConnection::CFtpConnection(const std::string& host, long port, const std::string& user,
                               const std::string& password, bool passive, FtpTimeouts timeouts,
                               std::function<bool()> cancelled)
    : m_cancelled(std::move(cancelled))
{
    GlobalInit();
    m_easy.reset(curl_easy_init());
    m_multi.reset(curl_multi_init());
    if (!m_easy || !m_multi)
        throw CInternetException(CURLE_OUT_OF_MEMORY, "cannot create an FTP session");
    m_base = "ftp://" + host + ":" + std::to_string(port) + "/";

    CURL* h = m_easy.get();
    curl_easy_setopt(h, CURLOPT_ERRORBUFFER, m_error);
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
#if LIBCURL_VERSION_NUM >= 0x075500
    curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "ftp");
#endif
    curl_easy_setopt(h, CURLOPT_USERNAME, user.c_str());
    curl_easy_setopt(h, CURLOPT_PASSWORD, password.c_str());
    // ".." must reach the server as a folder change, not be folded away in the URL.
    curl_easy_setopt(h, CURLOPT_PATH_AS_IS, 1L);
    curl_easy_setopt(h, CURLOPT_FTP_FILEMETHOD, static_cast<long>(CURLFTPMETHOD_MULTICWD));
    if (!passive)
        curl_easy_setopt(h, CURLOPT_FTPPORT, "-");
    curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(timeouts.connect.count()));
    curl_easy_setopt(h, CURLOPT_SERVER_RESPONSE_TIMEOUT, static_cast<long>((timeouts.stall.count() + 999) / 1000));
    curl_easy_setopt(h, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(h, CURLOPT_LOW_SPEED_TIME, static_cast<long>((timeouts.stall.count() + 999) / 1000));
    curl_easy_setopt(h, CURLOPT_BUFFERSIZE, 64L * 1024);
    curl_easy_setopt(h, CURLOPT_TCP_KEEPALIVE, 1L);
    // A proxy from ftp_proxy or all_proxy (curl reads them) that speaks HTTP
    // would turn each request into an HTTP one, without folders or listings:
    // tunnel through it instead, so the session stays FTP end to end.
    curl_easy_setopt(h, CURLOPT_HTTPPROXYTUNNEL, 1L);

    // Log in by asking for the login folder itself without a transfer.
    Prepare(m_base);
    curl_easy_setopt(h, CURLOPT_NOBODY, 1L);
    if (CURLcode rc = Perform(); rc != CURLE_OK)
        Throw(rc);
}

CFtpConnection::~CFtpConnection() = default;

std::string CFtpConnection::UrlFor(const std::vector<std::string>& folder, const std::string& file) const
{
    std::string url = m_base;
    auto append = [&](const std::string& part) {
        char* escaped = curl_easy_escape(m_easy.get(), part.c_str(), static_cast<int>(part.size()));
        if (!escaped)
            throw CInternetException(CURLE_OUT_OF_MEMORY, "cannot build a URL");
        url += escaped;
        curl_free(escaped);
    };
    for (const auto& part : folder) {
        // ".." is kept literal so that curl sends it as "CWD ..".
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

void CFtpConnection::Prepare(const std::string& url)
{
    CURL* h = m_easy.get();
    m_error[0] = '\0';
    curl_easy_setopt(h, CURLOPT_URL, url.c_str());
    curl_easy_setopt(h, CURLOPT_NOBODY, 0L);
    curl_easy_setopt(h, CURLOPT_WILDCARDMATCH, 0L);
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, Discard);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, nullptr);
}

void CFtpConnection::ThrowIfCancelled() const
{
    if (m_cancelled && m_cancelled())
        throw CInternetException(CURLE_ABORTED_BY_CALLBACK, "cancelled");
}

void CFtpConnection::Throw(CURLcode code) const
{
    std::string what = curl_easy_strerror(code);
    if (m_error[0])
        what += std::string(": ") + m_error;
    throw CInternetException(code, what);
}

bool CFtpConnection::Step(CURLcode& result)
{
    if (Drive(result))
        return true;
    Wait();
    return false;
}

void CFtpConnection::Wait()
{
    ThrowIfCancelled();
    // The poll wakes as soon as a socket is ready; the 100 ms bound keeps the
    // cancellation check and curl's own timers running.
    curl_multi_poll(m_multi.get(), nullptr, 0, 100, nullptr);
    ThrowIfCancelled();
}

bool CFtpConnection::Drive(CURLcode& result)
{
    int running = 0;
    CURLMcode mc = curl_multi_perform(m_multi.get(), &running);
    if (mc != CURLM_OK)
        throw CInternetException(CURLE_FAILED_INIT, curl_multi_strerror(mc));
    int queued = 0;
    while (CURLMsg* msg = curl_multi_info_read(m_multi.get(), &queued)) {
        if (msg->msg == CURLMSG_DONE && msg->easy_handle == m_easy.get()) {
            result = msg->data.result;
            return true;
        }
    }
    return false;
}

CURLcode CFtpConnection::Perform()
{
    if (m_busy)
        throw CInternetException(CURLE_FAILED_INIT, "a file is still open on this connection");
    curl_multi_add_handle(m_multi.get(), m_easy.get());
    CURLcode result = CURLE_OK;
    try {
        while (!Step(result)) {
        }
    } catch (...) {
        curl_multi_remove_handle(m_multi.get(), m_easy.get());
        throw;
    }
    curl_multi_remove_handle(m_multi.get(), m_easy.get());
    return result;
}

bool CFtpConnection::SetCurrentDirectory(const std::string& folder)
{
    if (folder.empty() || folder.find('/') != std::string::npos)
        return false;
    if (folder == ".")
        return true;
    if (folder == ".." && !m_folder.empty() && m_folder.back() != "..") {
        // The parent of a folder we entered exists.
        m_folder.pop_back();
        return true;
    }
    std::vector<std::string> next = m_folder;
    next.push_back(folder);
    Prepare(UrlFor(next, {}));
    curl_easy_setopt(m_easy.get(), CURLOPT_NOBODY, 1L);
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

std::string CFtpConnection::GetCurrentDirectory() const
{
    std::string path = "/";
    for (const auto& part : m_folder)
        path += part + "/";
    return path;
}

std::vector<FtpEntry> CFtpConnection::List()
{
    std::vector<FtpEntry> entries;
    ListState state{&entries};
    Prepare(UrlFor(m_folder, {}) + "*");
    CURL* h = m_easy.get();
    curl_easy_setopt(h, CURLOPT_WILDCARDMATCH, 1L);
    curl_easy_setopt(h, CURLOPT_CHUNK_BGN_FUNCTION, OnListEntry);
    curl_easy_setopt(h, CURLOPT_CHUNK_DATA, &state);
    CURLcode rc = Perform();
    curl_easy_setopt(h, CURLOPT_WILDCARDMATCH, 0L);
    curl_easy_setopt(h, CURLOPT_CHUNK_BGN_FUNCTION, nullptr);
    curl_easy_setopt(h, CURLOPT_CHUNK_DATA, nullptr);
    // An empty folder matches nothing, which curl reports as "not found".
    if (rc != CURLE_OK && !(rc == CURLE_REMOTE_FILE_NOT_FOUND && entries.empty()))
        Throw(rc);
    return entries;
}

std::unique_ptr<CFtpFile> CFtpConnection::OpenFile(const std::string& name)
{
    if (name.empty() || name.find('/') != std::string::npos)
        return nullptr;
    if (m_busy)
        throw CInternetException(CURLE_FAILED_INIT, "a file is still open on this connection");
    auto file = std::make_unique<CFtpFile>(*this);
    Prepare(UrlFor(m_folder, name));
    curl_easy_setopt(m_easy.get(), CURLOPT_TRANSFERTEXT, 0L);
    curl_easy_setopt(m_easy.get(), CURLOPT_WRITEFUNCTION, &CFtpFile::OnData);
    curl_easy_setopt(m_easy.get(), CURLOPT_WRITEDATA, file.get());
    if (!file->Start())
        return nullptr;
    return file;
}
