// The test support's Windows side, for the tests Wine runs. Wine starts a Unix
// program, but the handle it gives back can neither be waited on nor ended,
// and system() goes through cmd.exe; so the Linux programs the tests need
// (python3, openssl, minisign, the test servers) are started by
// tests/support/wine-test-helper.py, which runs the test and is reached on
// 127.0.0.1 through VORN_TEST_HELPER ("<port> <token>").
#include "support/TestSupport.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <windows.h>

#include <cctype>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <random>
#include <regex>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace {

// One request to the helper; its answer, a number.
long long AskHelper(const std::string& verb, const std::string& argument)
{
    static const int started = [] {
        WSADATA data;
        return WSAStartup(MAKEWORD(2, 2), &data);
    }();
    const char* helper = std::getenv("VORN_TEST_HELPER");
    if (started != 0 || !helper)
        throw std::runtime_error("no test helper: run under tests/support/wine-test-helper.py");
    std::istringstream in(helper);
    int port = 0;
    std::string token;
    in >> port >> token;
    const SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<u_short>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    std::string answer;
    if (s != INVALID_SOCKET && connect(s, reinterpret_cast<const sockaddr*>(&a), sizeof a) == 0) {
        const std::string request = token + " " + verb + " " + argument + "\n";
        if (send(s, request.data(), static_cast<int>(request.size()), 0) == static_cast<int>(request.size())) {
            char c = 0;
            while (recv(s, &c, 1, 0) == 1 && c != '\n')
                answer += c;
        }
    }
    if (s != INVALID_SOCKET)
        closesocket(s);
    if (answer.empty())
        throw std::runtime_error("the test helper did not answer " + verb + " " + argument);
    return std::stoll(answer);
}

std::wstring Wide(const std::string& utf8)
{
    std::wstring wide(utf8.size(), L'\0');
    wide.resize(static_cast<std::size_t>(MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()),
                                                             wide.data(), static_cast<int>(wide.size()))));
    return wide;
}

// The Linux name of a Windows one, as Wine maps it.
std::string UnixName(const std::wstring& name)
{
    using Convert = char*(__cdecl*)(const wchar_t*);
    const auto convert = reinterpret_cast<Convert>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name")));
    char* unix = convert ? convert(name.c_str()) : nullptr;
    if (!unix)
        throw std::runtime_error("no Linux name for a Windows one (not under Wine?)");
    std::string result = unix;
    HeapFree(GetProcessHeap(), 0, unix);
    return result;
}

std::string ShellQuoted(const std::string& s)
{
    std::string q = "'";
    for (const char c : s)
        q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

bool IsWindowsName(const std::string& s)
{
    return s.size() >= 3 && std::isalpha(static_cast<unsigned char>(s[0])) && s[1] == ':' && s[2] == '\\';
}

}   // namespace

TempDir::TempDir()
{
    std::random_device random;
    for (int tries = 0; tries < 100; ++tries) {
        const fs::path candidate = fs::temp_directory_path() / ("vorn-test-" + std::to_string(random()));
        if (fs::create_directory(candidate)) {
            m_path = candidate;
            return;
        }
    }
    throw std::runtime_error("no temporary folder could be made");
}

TempDir::~TempDir()
{
    // Removed on the Linux side, with what the tests made there: links, and names
    // Windows has no room for, which Windows' own calls would stumble over.
    try {
        if (RunCommand("rm -rf " + ShellQuoted(UnixName(m_path.wstring()))) == 0)
            return;
    } catch (const std::exception&) {
    }
    std::error_code ec;
    fs::remove_all(m_path, ec);
}

TestServer::TestServer(const std::string& script, const std::vector<std::string>& options)
{
    const fs::path portFile = m_state.path() / "port";
    std::string command = "/usr/bin/python3 " + ShellQuoted(VORN_SOURCE_DIR "/scripts/" + script) + " --port-file " +
                          ShellQuoted(UnixName(portFile.wstring())) + " --log " +
                          ShellQuoted(UnixName((m_state.path() / "log").wstring()));
    // Files named in the options (the root, a certificate) as the server sees them.
    for (const auto& o : options)
        command += " " + ShellQuoted(IsWindowsName(o) ? UnixName(Wide(o)) : o);
    m_pid = static_cast<int>(AskHelper("START", command));
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < deadline) {
        std::ifstream in(portFile);
        if (in >> m_port && m_port > 0)
            return;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    throw std::runtime_error(script + " did not report its port");
}

TestServer::~TestServer()
{
    if (m_pid > 0)
        AskHelper("STOP", std::to_string(m_pid));
}

int RunCommand(const std::string& command)
{
    return static_cast<int>(AskHelper("RUN", ForLinux(command)));
}

std::string ForLinux(const std::string& text)
{
    static const std::regex quotedName(R"('([A-Za-z]:\\[^']*)')");
    std::string result;
    auto from = text.cbegin();
    for (std::sregex_iterator it(text.begin(), text.end(), quotedName), end; it != end; ++it) {
        result.append(from, (*it)[0].first);
        result += ShellQuoted(UnixName(Wide((*it)[1].str())));
        from = (*it)[0].second;
    }
    result.append(from, text.cend());
    return result;
}

bool LoopbackHasIPv6()
{
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0)
        return false;
    const SOCKET s = socket(AF_INET6, SOCK_STREAM, IPPROTO_TCP);
    bool bound = false;
    if (s != INVALID_SOCKET) {
        sockaddr_in6 a{};
        a.sin6_family = AF_INET6;
        a.sin6_addr = in6addr_loopback;
        bound = bind(s, reinterpret_cast<const sockaddr*>(&a), sizeof a) == 0;
        closesocket(s);
    }
    WSACleanup();
    return bound;
}

bool UnderWine()
{
    // VORN_TEST_AS_WINDOWS=1 checks what Wine is known to break all the same, to show it.
    const char* asWindows = std::getenv("VORN_TEST_AS_WINDOWS");
    if (asWindows && std::string(asWindows) == "1")
        return false;
    return GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr;
}

int setenv(const char* name, const char* value, int overwrite)
{
    if (!overwrite && std::getenv(name))
        return 0;
    return _putenv_s(name, value);
}

int unsetenv(const char* name)
{
    return _putenv_s(name, "");
}

std::uintmax_t SpaceTaken(const fs::path& path)
{
    const HANDLE h = CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                 OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return 0;
    FILE_STANDARD_INFO info{};
    const bool known = GetFileInformationByHandleEx(h, FileStandardInfo, &info, sizeof info);
    CloseHandle(h);
    return known ? static_cast<std::uintmax_t>(info.AllocationSize.QuadPart) : 0;
}
