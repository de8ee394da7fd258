#pragma once
#include <cstddef>
#include <vector>

class CFtpConnection;

// A remote file open for binary reading. Read pulls bytes from the transfer on
// demand: libcurl is paused while the caller is not reading, so at most one
// network chunk is ever held beyond the caller's buffer.
class CFtpFile {
public:
    explicit CFtpFile(CFtpConnection& connection);
    ~CFtpFile();
    CFtpFile(const CFtpFile&) = delete;
    CFtpFile& operator=(const CFtpFile&) = delete;

    // Fills `buffer` with up to `count` bytes; fewer only at the end of the file.
    // 0 at the end or for a count of 0; throws CInternetException on a broken transfer.
    std::size_t Read(void* buffer, std::size_t count);
    // Ends the transfer. When the server has sent no more than was read, the
    // transfer is let finish (within the stall timeout) and the connection
    // stays logged in; otherwise, or when cancelled, it is cut.
    void Close();

private:
    friend class CFtpConnection;
    static std::size_t OnData(char* data, std::size_t size, std::size_t count, void* self);
    // Runs the transfer until it delivers data or ends. False when the server refused
    // the file; throws for any other failure.
    bool Start();
    // Runs the transfer to its normal end; false when more data came or it was cut.
    bool Finish();
    // Takes the transfer off the connection; a finished one frees it for the next request.
    void Detach();

    CFtpConnection& m_connection;
    std::vector<char> m_spill;   // bytes delivered beyond what the reader asked for
    std::size_t m_spillPos = 0;
    char* m_target = nullptr;
    std::size_t m_wanted = 0;
    std::size_t m_got = 0;
    bool m_open = false;
    bool m_attached = false;
    bool m_done = false;
    bool m_paused = false;
    bool m_finishing = false;
    bool m_overrun = false;
};
