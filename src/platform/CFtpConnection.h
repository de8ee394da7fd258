#pragma once
#include "platform/CurlHandles.h"

#include <chrono>
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

struct FtpEntry {
    std::string name;
    std::uint64_t size = 0;
    bool isFolder = false;
    bool isLink = false;
};

// An FTP session over libcurl with the few operations the worker needs. The
// current folder is kept here as a path relative to the login folder and sent
// as CWD steps with each request; libcurl reuses the logged-in connection.
// Only one file may be open at a time, and listings never overlap a transfer.
class CFtpConnection {
public:
    // Logs in or throws CInternetException.
    CFtpConnection(const std::string& host, long port, const std::string& user,
                   const std::string& password, bool passive, FtpTimeouts timeouts = {},
                   std::function<bool()> cancelled = {});
    ~CFtpConnection();
    CFtpConnection(const CFtpConnection&) = delete;
    CFtpConnection& operator=(const CFtpConnection&) = delete;

    // False when the folder does not exist; throws when the connection fails.
    bool SetCurrentDirectory(const std::string& folder);
    std::string GetCurrentDirectory() const;
    // The current folder's entries in the order the server lists them.
    std::vector<FtpEntry> List();
    // Null when the server refuses the file; throws when the connection fails.
    std::unique_ptr<CFtpFile> OpenFile(const std::string& name);

private:
    friend class CFtpFile;
    std::string UrlFor(const std::vector<std::string>& folder, const std::string& file) const;
    void Prepare(const std::string& url);
    // Drives the easy handle in the multi handle until the request is done.
    CURLcode Perform();
    // One step of the multi loop: runs curl, waits at most 100 ms for the sockets.
    // Returns true when the transfer finished (its result in `result`).
    bool Step(CURLcode& result);
    // Runs curl once without waiting; true when the transfer finished.
    bool Drive(CURLcode& result);
    // Waits at most 100 ms for a socket; throws when cancelled.
    void Wait();
    void ThrowIfCancelled() const;
    [[noreturn]] void Throw(CURLcode code) const;

    CurlEasy m_easy;
    CurlMulti m_multi;
    std::string m_base;
    std::vector<std::string> m_folder;
    std::function<bool()> m_cancelled;
    char m_error[CURL_ERROR_SIZE] = {};
    bool m_busy = false;
};
