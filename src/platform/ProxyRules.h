#pragma once
#include <optional>
#include <string>

// Proxy settings as Windows keeps them for the user (Internet Options), or as
// its automatic configuration answers for one address.
struct ProxySettings {
    // "host:port" for every protocol, or entries per scheme such as
    // "ftp=host:port;http=host:port;socks=host:port".
    std::string proxies;
    // Hosts reached directly: names, "*" wildcards, "<local>" (names without a
    // dot) and "<-loopback>" (loopback addresses through the proxy as well).
    std::string bypass;
};

// Which entry of a per-scheme list serves an FTP session: "ftp=" in the user's
// own settings, as Windows' FTP client reads them; "http=" in an answer that
// automatic configuration gave for the server written as an http:// address.
enum class ProxyScheme { Ftp, Http };

// The proxy for a session to `host` as libcurl takes it: "http://host:port"
// (tunnelled with CONNECT), "socks4://host:port", or "" to go direct.
std::string CurlProxyFor(const ProxySettings& settings, ProxyScheme scheme, const std::string& host);

// The proxy libcurl takes from the environment for an FTP session: the first
// of ftp_proxy, FTP_PROXY, all_proxy and ALL_PROXY that is set, even empty
// (which means direct). None set: nullopt, and the system's settings count.
std::optional<std::string> ProxyFromEnvironment();

// A proxy's address as the user may be shown it: no scheme, no user or password.
std::string ProxyShownAs(const std::string& proxy);
