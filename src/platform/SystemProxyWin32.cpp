// The user's proxy on Windows: Internet Options as WinHTTP reads them, and
// the automatic configuration (detection, a script) they may ask for.
#include "platform/SystemProxy.h"

#include "platform/ProxyRules.h"
#include "platform/WideText.h"

#include <windows.h>

// After windows.h, which it needs.
#include <winhttp.h>

#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

namespace {

std::string Text(const wchar_t* text)
{
    return text ? Utf8FromWide(text) : std::string();
}

// The strings WinHTTP hands over belong to the caller, freed with GlobalFree.
struct UserSettings : WINHTTP_CURRENT_USER_IE_PROXY_CONFIG {
    UserSettings() : WINHTTP_CURRENT_USER_IE_PROXY_CONFIG{} {}
    ~UserSettings()
    {
        // GlobalFree answers null on success and the handle on failure; there
        // is nothing to do about a failure here.
        for (wchar_t* text : {lpszAutoConfigUrl, lpszProxy, lpszProxyBypass})
            if (text)
                (void)GlobalFree(text);
    }
    UserSettings(const UserSettings&) = delete;
    UserSettings& operator=(const UserSettings&) = delete;
};

struct SessionDeleter {
    void operator()(void* session) const { WinHttpCloseHandle(session); }
};

// One question to the automatic configuration, shared with the thread that
// asks it, so that an answer that comes too late finds its state alive.
struct AutoQuery {
    std::wstring url;
    std::wstring script;   // empty: none set
    bool detect = false;
    DWORD bound = 0;
    std::mutex lock;
    std::condition_variable answered;
    bool done = false;
    std::optional<ProxySettings> answer;   // none: no configuration found or it failed
};

void Ask(const std::shared_ptr<AutoQuery>& query)
{
    std::optional<ProxySettings> answer;
    const std::unique_ptr<void, SessionDeleter> session(
        WinHttpOpen(L"VORNdownload", WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
    if (session) {
        const int bound = static_cast<int>(query->bound);
        // A failure leaves WinHTTP's own limits, which only make the wait longer
        // for the caller who is no longer waiting.
        (void)WinHttpSetTimeouts(session.get(), bound, bound, bound, bound);
        WINHTTP_AUTOPROXY_OPTIONS options{};
        if (query->detect) {
            options.dwFlags |= WINHTTP_AUTOPROXY_AUTO_DETECT;
            options.dwAutoDetectFlags = WINHTTP_AUTO_DETECT_TYPE_DHCP | WINHTTP_AUTO_DETECT_TYPE_DNS_A;
        }
        if (!query->script.empty()) {
            options.dwFlags |= WINHTTP_AUTOPROXY_CONFIG_URL;
            options.lpszAutoConfigUrl = query->script.c_str();
        }
        options.fAutoLogonIfChallenged = TRUE;
        WINHTTP_PROXY_INFO info{};
        if (WinHttpGetProxyForUrl(session.get(), query->url.c_str(), &options, &info)) {
            answer = ProxySettings{};
            // The script has already decided for loopback addresses as well.
            if (info.dwAccessType == WINHTTP_ACCESS_TYPE_NAMED_PROXY)
                answer = ProxySettings{Text(info.lpszProxy), Text(info.lpszProxyBypass) + ";<-loopback>"};
            for (wchar_t* text : {info.lpszProxy, info.lpszProxyBypass})
                if (text)
                    (void)GlobalFree(text);   // as above
        }
    }
    const std::lock_guard<std::mutex> hold(query->lock);
    query->answer = std::move(answer);
    query->done = true;
    query->answered.notify_all();
}

// The automatic configuration's answer for `url`; none when it found no
// configuration, failed, took longer than `bound` or was stopped. Its own
// thread is left to end by itself then: WinHttpGetProxyForUrl cannot be cut.
std::optional<ProxySettings> AskAutomatic(const UserSettings& user, const std::wstring& url,
                                          std::chrono::milliseconds bound, const std::function<bool()>& cancelled)
{
    auto query = std::make_shared<AutoQuery>();
    query->url = url;
    query->script = user.lpszAutoConfigUrl ? user.lpszAutoConfigUrl : L"";
    query->detect = user.fAutoDetect != FALSE;
    query->bound = static_cast<DWORD>(bound.count());
    std::thread(Ask, query).detach();
    const auto deadline = std::chrono::steady_clock::now() + bound;
    std::unique_lock<std::mutex> hold(query->lock);
    while (!query->done) {
        if ((cancelled && cancelled()) || std::chrono::steady_clock::now() >= deadline)
            return std::nullopt;
        query->answered.wait_for(hold, std::chrono::milliseconds(100));
    }
    return query->answer;
}

}   // namespace

std::string SystemProxyFor(const std::string& host, long port, std::chrono::milliseconds bound,
                           const std::function<bool()>& cancelled)
{
    // Every connection of a run asks the same; one wait for the automatic
    // configuration is enough.
    static std::mutex lock;
    static std::map<std::string, std::string> answers;
    const std::string key = host + ":" + std::to_string(port);
    {
        const std::lock_guard<std::mutex> hold(lock);
        if (const auto known = answers.find(key); known != answers.end())
            return known->second;
    }

    UserSettings user;
    if (!WinHttpGetIEProxyConfigForCurrentUser(&user))
        return {};
    std::string proxy;
    std::optional<ProxySettings> automatic;
    if (user.fAutoDetect || user.lpszAutoConfigUrl) {
        // WinHTTP knows no ftp:// address; the server's as an http:// one.
        const bool v6 = host.find(':') != std::string::npos;
        std::string address = v6 ? "http://[" : "http://";
        address += host;
        address += v6 ? "]:" : ":";
        address += std::to_string(port);
        address += "/";
        const auto url = WideFromUtf8(address);
        if (url)
            automatic = AskAutomatic(user, *url, bound, cancelled);
    }
    if (cancelled && cancelled())
        return {};   // not kept: a later run asks again
    if (automatic)
        proxy = CurlProxyFor(*automatic, ProxyScheme::Http, host);
    else if (user.lpszProxy)
        proxy = CurlProxyFor({Text(user.lpszProxy), Text(user.lpszProxyBypass)}, ProxyScheme::Ftp, host);
    const std::lock_guard<std::mutex> hold(lock);
    answers[key] = proxy;
    return proxy;
}
