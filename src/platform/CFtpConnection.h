#pragma once
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class CFtpFile;

struct FtpTimeouts {
    std::chrono::milliseconds connect{30000};
    // A server that sends nothing for this long ends the call with an error.
    std::chrono::milliseconds stall{30000};
};

// Explicit FTP over TLS: AUTH TLS, then PBSZ 0 / PROT P so that listings and
// files travel encrypted too. The certificate is checked against the system's
// authorities (on Windows its certificate store), `caPem` (when given) and the
// host name, by the same rules on both systems: a name matches a DNS name of
// the certificate, an address an address of it.
struct FtpTls {
    enum class Mode {
        Off,       // never
        Try,       // when the server offers it; a failed handshake still ends the session
        Require,   // no login without it
    };
    Mode mode = Mode::Try;
    std::string caPem;   // certificates (PEM text) trusted besides the system's authorities
};

struct FtpEntry {
    std::string name;
    std::uint64_t size = 0;
    bool isFolder = false;
    bool isLink = false;
};

// Takes one piece of a transfer starting at `offset` in the remote file and
// answers how many bytes it took: all of them, FtpPause to be handed the same
// piece again after ResumeTransfer, or anything else to cut the transfer.
using FtpSink = std::function<std::size_t(std::uint64_t offset, const char* data, std::size_t size)>;
inline constexpr std::size_t FtpPause = 0x10000001;   // libcurl's own pause value, handed on as it is

// An FTP session over libcurl with the few operations the worker needs. The
// current folder is kept here, as a full path from the server's root when the
// login folder is known, and sent as one CWD when it changes; libcurl reuses
// the logged-in connection for every request. One request at a time: a
// listing never overlaps a transfer, and only one transfer runs.
class CFtpConnection {
public:
    // Logs in or throws CInternetException. `host` is a name or an address,
    // IPv6 ones included.
    CFtpConnection(const std::string& host, long port, const std::string& user, const std::string& password,
                   bool passive, FtpTimeouts timeouts = {}, std::function<bool()> cancelled = {},
                   const FtpTls& tls = {});
    ~CFtpConnection();
    CFtpConnection(const CFtpConnection&) = delete;
    CFtpConnection& operator=(const CFtpConnection&) = delete;

    // `folder` is one name, "..", or several joined by "/" (one change on the
    // server). False when it does not exist; throws when the connection fails.
    bool SetCurrentDirectory(const std::string& folder);
    std::string GetCurrentDirectory() const;
    // The current folder's entries in the order the server lists them.
    std::vector<FtpEntry> List();
    // Null when the server refuses the file; throws when the connection fails.
    std::unique_ptr<CFtpFile> OpenFile(const std::string& name);

    // Fetches `name` of the current folder from byte `offset` into `sink`, and
    // runs until the first piece was handed over or the transfer ended, so a
    // refused file is known here: false then. Throws for any other failure.
    // `fileTime` asks the server for the file's modification time (one MDTM).
    bool BeginTransfer(const std::string& name, FtpSink sink, std::uint64_t offset = 0, bool fileTime = false);
    // Runs the transfer, waiting at most 100 ms for the network; true once it has ended.
    // Throws when it ended with an error or the run is being stopped.
    bool DriveTransfer();
    // Hands the sink again the piece it paused on, and lets the transfer go on.
    void ResumeTransfer();
    bool TransferPaused() const;
    // Lets the transfer run to the end the server gives it and takes it off the
    // connection, which stays logged in. Throws when it ended with an error.
    void EndTransfer();
    // Cuts a transfer that is still running; libcurl drops that connection and
    // logs in again for the next request.
    void AbortTransfer() noexcept;
    // The modification time (seconds since 1970) of the file of the last
    // transfer that ended and asked for it; -1 when unknown.
    std::int64_t TransferFileTime() const;
    // Whom the connection asks from now on whether to stop: for a connection
    // logged in on one thread and used on another. Not during a request.
    void SetCancelled(std::function<bool()> cancelled);
    // The same for the transfer that runs now, known once BeginTransfer with
    // `fileTime` has returned; -1 when unknown.
    std::int64_t CurrentFileTime() const;

private:
    // The libcurl handles and the request's state, kept out of this header so
    // that its users see no libcurl.
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};
