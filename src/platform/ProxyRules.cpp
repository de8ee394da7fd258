#include "platform/ProxyRules.h"

#include "platform/TextCase.h"

#include <algorithm>
#include <cstdlib>
#include <initializer_list>
#include <string_view>
#include <vector>

namespace {

std::vector<std::string_view> Tokens(std::string_view text, std::string_view separators)
{
    std::vector<std::string_view> out;
    std::size_t from = 0;
    while ((from = text.find_first_not_of(separators, from)) != std::string_view::npos) {
        const std::size_t end = std::min(text.find_first_of(separators, from), text.size());
        out.push_back(text.substr(from, end - from));
        from = end;
    }
    return out;
}

std::string Lower(std::string_view text)
{
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; });
    return out;
}

std::string Joined(std::initializer_list<std::string_view> parts)
{
    std::string out;
    for (std::string_view part : parts)
        out.append(part);
    return out;
}

// "host", "host:port", "[v6]:port" or a bare v6 address as "host:port", the
// port filled in where none is given; "" for what cannot be a proxy's address.
std::string WithPort(std::string_view address, std::string_view defaultPort)
{
    if (address.empty() || address.find_first_of("/@?#\\") != std::string_view::npos)
        return {};
    if (address.front() == '[') {
        const std::size_t close = address.find(']');
        if (close == std::string_view::npos)
            return {};
        return close + 1 == address.size() ? Joined({address, ":", defaultPort}) : std::string(address);
    }
    const auto colons = std::count(address.begin(), address.end(), ':');
    if (colons > 1)
        return Joined({"[", address, "]:", defaultPort});
    return colons == 1 ? std::string(address) : Joined({address, ":", defaultPort});
}

bool IsLoopback(std::string_view host)
{
    if (EqualsIgnoringCase(host, "localhost") || host == "::1" || host == "[::1]")
        return true;
    return host.substr(0, 4) == "127." && host.find_first_not_of("0123456789.") == std::string_view::npos;
}

// `pattern` with "*" for any run of characters, both in lower case.
bool Matches(std::string_view pattern, std::string_view text)
{
    std::size_t p = 0, t = 0, star = std::string_view::npos, resume = 0;
    while (t < text.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            star = p++;
            resume = t;
        } else if (p < pattern.size() && pattern[p] == text[t]) {
            ++p;
            ++t;
        } else if (star != std::string_view::npos) {
            p = star + 1;
            t = ++resume;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*')
        ++p;
    return p == pattern.size();
}

// Whether the bypass list sends `host` direct. Windows reaches loopback
// addresses directly unless the list says "<-loopback>".
bool Bypassed(std::string_view bypass, std::string_view scheme, std::string_view host)
{
    const std::string name = Lower(host);
    bool loopbackDirect = true, listed = false;
    for (std::string_view entry : Tokens(bypass, "; ,\t\r\n")) {
        if (EqualsIgnoringCase(entry, "<local>")) {
            listed = listed || name.find_first_of(".:") == std::string::npos;
        } else if (EqualsIgnoringCase(entry, "<-loopback>")) {
            loopbackDirect = false;
        } else {
            // "http://*.example.com" holds for that scheme alone.
            if (const std::size_t at = entry.find("://"); at != std::string_view::npos) {
                if (!EqualsIgnoringCase(entry.substr(0, at), scheme))
                    continue;
                entry.remove_prefix(at + 3);
            }
            if (entry.size() > 2 && entry.front() == '[' && entry.back() == ']')
                entry = entry.substr(1, entry.size() - 2);
            listed = listed || Matches(Lower(entry), name);
        }
    }
    return listed || (loopbackDirect && IsLoopback(host));
}

}   // namespace

std::string CurlProxyFor(const ProxySettings& settings, ProxyScheme scheme, const std::string& host)
{
    const std::string_view wanted = scheme == ProxyScheme::Ftp ? "ftp" : "http";
    std::string chosen, socks;
    for (std::string_view entry : Tokens(settings.proxies, "; \t\r\n")) {
        std::string kind;
        if (const std::size_t equals = entry.find('='); equals != std::string_view::npos) {
            kind = Lower(entry.substr(0, equals));
            entry.remove_prefix(equals + 1);
        }
        if (kind.empty() || kind == wanted) {
            if (entry.size() > 7 && EqualsIgnoringCase(entry.substr(0, 7), "http://"))
                entry.remove_prefix(7);
            if (!entry.empty() && entry.back() == '/')
                entry.remove_suffix(1);
            if (const std::string address = WithPort(entry, "80"); chosen.empty() && !address.empty())
                chosen = Joined({"http://", address});
        } else if (kind == "socks") {
            // Windows speaks SOCKS version 4 to such an entry.
            if (const std::string address = WithPort(entry, "1080"); socks.empty() && !address.empty())
                socks = Joined({"socks4://", address});
        }
    }
    std::string proxy = chosen.empty() ? socks : chosen;
    if (!proxy.empty() && Bypassed(settings.bypass, wanted, host))
        proxy.clear();
    return proxy;
}

std::optional<std::string> ProxyFromEnvironment()
{
    for (const char* name : {"ftp_proxy", "FTP_PROXY", "all_proxy", "ALL_PROXY"}) {
        // Read on the worker's thread while nothing changes the environment,
        // as libcurl itself reads it.
        if (const char* value = std::getenv(name))   // NOLINT(concurrency-mt-unsafe)
            return std::string(value);
    }
    return std::nullopt;
}

std::string ProxyShownAs(const std::string& proxy)
{
    std::string_view shown = proxy;
    if (const std::size_t at = shown.find("://"); at != std::string_view::npos)
        shown.remove_prefix(at + 3);
    shown = shown.substr(0, std::min(shown.find('/'), shown.size()));
    if (const std::size_t at = shown.rfind('@'); at != std::string_view::npos)
        shown.remove_prefix(at + 1);
    return std::string(shown);
}
