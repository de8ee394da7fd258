#pragma once
#include <cstddef>
#include <string>
#include <vector>

class CFtpConnection;

// A remote file open for binary reading, a pull-style client of the
// connection's transfer: the transfer is paused while the caller is not
// reading, so at most one network chunk is ever held beyond the caller's buffer.
class CFtpFile {
public:
    explicit CFtpFile(CFtpConnection& connection);
    ~CFtpFile();
    CFtpFile(const CFtpFile&) = delete;
    CFtpFile& operator=(const CFtpFile&) = delete;

    // Starts the transfer; false when the server refuses the file.
    bool Open(const std::string& name);
    // Fills `buffer` with up to `count` bytes; fewer only at the end of the file.
    // 0 at the end or for a count of 0; throws CInternetException on a broken transfer.
    std::size_t Read(void* buffer, std::size_t count);
    // Ends the transfer. When the server has sent no more than was read, the
    // transfer is let finish (within the stall timeout) and the connection
    // stays logged in; a transfer the server then reports as failed throws.
    // Otherwise, or when the run is being stopped, it is cut.
    void Close();

private:
    enum class State {
        Closed,     // no transfer of this file on the connection
        Reading,    // the transfer runs
        Draining,   // everything wanted was read; waiting for the server's end
        Overrun,    // more came while draining: the file is longer than was read
        Ended,      // the server ended the transfer; held bytes may remain
    };

    std::size_t Take(const char* data, std::size_t size);

    CFtpConnection& m_connection;
    State m_state = State::Closed;
    std::vector<char> m_spill;   // bytes delivered beyond what the reader asked for
    std::size_t m_spillPos = 0;
    char* m_target = nullptr;
    std::size_t m_wanted = 0;
    std::size_t m_got = 0;
};
