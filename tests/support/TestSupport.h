#pragma once
#include "platform/CNotifyChannel.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <ostream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

class CKELDownloadThread;

// A fresh folder under the system's temp folder, removed at the end.
class TempDir {
public:
    TempDir();
    ~TempDir();
    const fs::path& path() const { return m_path; }

private:
    fs::path m_path;
};

// A temporary home folder. Its Download folder is handed to the worker or
// the window under test, or HOME is set to it for a program started.
class TempHome {
public:
    const fs::path& path() const { return m_dir.path(); }
    fs::path DownloadFolder() const { return m_dir.path() / "VORN Download"; }
    // As the front ends hand it on: ending in "/".
    std::string Folder() const { return DownloadFolder().string() + "/"; }
    // Where the worker keeps the release lists it accepted (the programs:
    // "$HOME/.local/state/vorndownload/").
    std::string StateFolder() const { return (m_dir.path() / ".local/state/vorndownload").string() + "/"; }

private:
    TempDir m_dir;
};

// One of the project's Python test servers on 127.0.0.1 with an ephemeral
// port, ended with the test.
class TestServer {
public:
    TestServer(const std::string& script, const std::vector<std::string>& options);
    ~TestServer();
    TestServer(const TestServer&) = delete;
    TestServer& operator=(const TestServer&) = delete;
    long port() const { return m_port; }
    // What the server logged, one line each ("CWD KEL", "CONNECT 127.0.0.1:21").
    std::vector<std::string> Commands() const;
    // Bytes of data transfers the FTP server sent, listings included.
    std::uint64_t SentBytes() const;

private:
    TempDir m_state;
    int m_pid = -1;
    long m_port = 0;
};

// The bundled FTP server serving `root`.
class FtpTestServer : public TestServer {
public:
    explicit FtpTestServer(const fs::path& root, std::vector<std::string> options = {});
};

// An HTTP proxy that only tunnels (CONNECT); with {"--refuse"} it refuses every tunnel.
class ProxyTestServer : public TestServer {
public:
    explicit ProxyTestServer(const std::vector<std::string>& options = {}) : TestServer("connect-proxy.py", options) {}
};

// Names `server` (on 127.0.0.1) in VORN_FTP_HOST and VORN_FTP_PORT while it
// lives, as a mirror is named: a window set up meanwhile downloads from it.
// Both are unset at the end, also when a failed assertion leaves the test early.
class ServerEnvironment {
public:
    explicit ServerEnvironment(const TestServer& server);
    ~ServerEnvironment();
    ServerEnvironment(const ServerEnvironment&) = delete;
    ServerEnvironment& operator=(const ServerEnvironment&) = delete;
};

// Runs a worker on its own thread, as the front ends do: it downloads from
// `host`:`port` into `home`'s Download folder and posts to `channel`; `setUp`
// sets anything else before it starts. True when it ended within 60 s.
bool RunWorkerToEnd(const std::string& host, long port, const TempHome& home,
                    const std::shared_ptr<CNotifyChannel>& channel,
                    const std::function<void(CKELDownloadThread&)>& setUp = {});

// Records every notification with the text slots as they stood when it was posted.
struct Notice {
    unsigned message;
    std::uint64_t wParam;
    std::int64_t lParam;
    std::string status;
    bool operator==(const Notice&) const = default;
};
// Read in a failed comparison as "P(pos, range)" or "K(kind, lParam, status)".
void PrintTo(const Notice& n, std::ostream* os);

class RecordingReceiver : public INotifyReceiver {
public:
    explicit RecordingReceiver(CNotifyChannel* channel = nullptr) : m_channel(channel) {}
    void PostMessage(unsigned message, std::uint64_t wParam, std::int64_t lParam) override;
    std::vector<Notice> Take();

private:
    CNotifyChannel* m_channel;
    std::mutex m_lock;
    std::vector<Notice> m_notices;
};

// Runs a command line of /bin/sh as system() does, and returns its status.
// On Windows the test helper runs it on the Linux side
// (tests/support/wine-test-helper.py); see ForLinux for the names in it.
int RunCommand(const std::string& command);
// `text` with each single-quoted absolute Windows name ('C:\...') in it
// given as the Linux programs see that file; unchanged on Linux.
std::string ForLinux(const std::string& text);
// False where no symbolic links can be made (libstdc++ on Windows makes none).
bool CanMakeLinks();
// Containers often run without IPv6, on the loopback too: nothing can listen on ::1 there.
bool LoopbackHasIPv6();
// The bytes of disk `path` takes: less than its size for a sparse file.
std::uintmax_t SpaceTaken(const fs::path& path);
// True in a Windows program that Wine runs, unless VORN_TEST_AS_WINDOWS is 1.
bool UnderWine();

#ifdef _WIN32
// The C library's names for the environment, as on Linux.
int setenv(const char* name, const char* value, int overwrite);
int unsetenv(const char* name);
#endif

void WriteFile(const fs::path& path, const std::string& data);
std::string ReadFile(const fs::path& path);
// Deterministic bytes that do not repeat within a chunk.
std::string PatternBytes(std::size_t size, unsigned seed = 1);
// A self-signed certificate for `names` (subjectAltName entries, such as
// "DNS:localhost,IP:127.0.0.1"), made with openssl: `dir`/server.pem holds
// certificate and key for the test server, `dir`/ca.pem the certificate to trust.
void MakeCertificate(const fs::path& dir, const std::string& names);
// Runs Python code with Debian's python3; the code sees `out` as the first argument.
void RunPython(const std::string& code, const fs::path& out);
// A zip at `path` (its folder made first) filled by `entries`: Python lines,
// each indented by four spaces, that add to the open zipfile.ZipFile `z`.
void WriteZip(const fs::path& path, const std::string& entries);

// Signatures made by minisign, the program publishers sign with.
// A key pair without a password in `dir` (key.pub, key.sec); returns the
// public key line the build takes.
std::string MakeSigningKey(const fs::path& dir);
// Writes "<file>.minisig" with the secret key in `keyDir`.
void SignFile(const fs::path& keyDir, const fs::path& file);

// Writes the release list "KEL.release" into the application folder of
// `root`, naming its `application` and (unless empty) the update folder's
// `update`, and signs it with the key in `keyDir` by minisign.
struct ListedRelease {
    std::string application = "KEL_V12.zip";
    std::string update = "KELUPD01_02.zip";
    std::uint64_t serial = 2;
    std::int64_t validFor = 86400;   // seconds from now; negative: expired
};
void ListRelease(const fs::path& root, const fs::path& keyDir, const ListedRelease& release = {});

// A publisher tree with KEL_V12.zip (holding KEL_V12/KEL_V12/Setup.exe) and
// KELUPD01_02.zip, named by a list signed with the key in `keyDir`, then as
// a forger would serve it.
enum class Forgery {
    None,
    ByteChanged,       // one byte of the application's zip comment: still a valid zip
    Unsigned,          // no KEL.release.minisig
    OtherKey,          // the list signed by another key
    Renamed,           // the list signed as another file
    NewerWithheld,     // the list names KEL_V13.zip, which the server no longer lists
    UpdateMissing,     // the listed update is gone from the server
    UpdateNotListed,   // the server offers KELUPD01_03.zip, which the list does not name
    Expired,           // the list expired an hour ago
    Oversized,         // the list larger than 1 MiB
};
void SignedRelease(const fs::path& root, const fs::path& keyDir, Forgery forgery);
// The root's application folder and update folder.
fs::path ApplicationFolder(const fs::path& root);
fs::path UpdateFolder(const fs::path& root);
