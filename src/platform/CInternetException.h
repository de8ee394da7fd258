#pragma once
#include <stdexcept>
#include <string>

// What went wrong with the FTP server, in the kinds the engine acts on.
enum class FtpError {
    NameNotResolved,   // the server's (or the proxy's) name does not resolve
    CannotConnect,     // no connection could be made
    LoginRefused,
    CertificateNotTrusted,   // or for another name, or expired
    TlsFailed,               // no encrypted session where one was needed
    NoSuchFileOrFolder,      // refused a folder change or a file
    ListingNotReadable,      // a listing arrived that makes no sense
    ResumeRefused,           // the server cannot start a file past its first byte
    SinkRefused,             // the receiving side took less than it was handed
    TimedOut,
    TransferBroken,   // the connection broke during a transfer
    Stopped,          // the run is being stopped
    Other,
};

// Any failure of the FTP layer that ends a run: refused login, broken or
// stalled connection, failed listing or transfer, cancellation.
class CInternetException : public std::runtime_error {
public:
    CInternetException(FtpError kind, const std::string& what, const std::string& reason = {})
        : std::runtime_error(what), m_kind(kind), m_reason(reason.empty() ? what : reason)
    {}
    FtpError Kind() const { return m_kind; }
    // Why, in words a user can read ("the server's certificate is not trusted").
    const std::string& Reason() const { return m_reason; }

private:
    FtpError m_kind;
    std::string m_reason;
};
