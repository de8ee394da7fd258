#include "platform/CFtpFile.h"

#include "platform/CFtpConnection.h"
#include "platform/CInternetException.h"

#include <algorithm>
#include <cstring>

CFtpFile::CFtpFile(CFtpConnection& connection) : m_connection(connection)
{}

CFtpFile::~CFtpFile()
{
    // Also reached while an error unwinds: no waiting for the server then.
    if (m_state == State::Reading || m_state == State::Draining || m_state == State::Overrun)
        m_connection.AbortTransfer();
}

bool CFtpFile::Open(const std::string& name)
{
    // Reading only once the transfer is this file's: a refused start (another
    // transfer still running, for one) must not be aborted by this file later.
    if (!m_connection.BeginTransfer(
            name, [this](std::uint64_t, const char* data, std::size_t size) { return Take(data, size); }))
        return false;
    m_state = State::Reading;
    if (m_spill.empty() && !m_connection.TransferPaused()) {
        // An empty file: over before a byte came.
        m_connection.EndTransfer();
        m_state = State::Ended;
    }
    return true;
}

std::size_t CFtpFile::Take(const char* data, std::size_t size)
{
    if (m_state == State::Draining || m_state == State::Overrun) {
        // Bytes beyond all the reader wanted: the file is longer than was
        // read. Refusing them makes curl cut the transfer.
        m_state = State::Overrun;
        return 0;
    }
    std::size_t used = 0;
    if (m_target && m_got < m_wanted) {
        used = std::min(size, m_wanted - m_got);
        std::memcpy(m_target + m_got, data, used);
        m_got += used;
    } else if (m_spillPos < m_spill.size()) {
        // The reader is satisfied and a chunk is already waiting: hold the
        // transfer until the next Read instead of buffering without bound.
        return FtpPause;
    }
    if (used < size) {
        if (m_spillPos == m_spill.size()) {
            m_spill.clear();
            m_spillPos = 0;
        }
        m_spill.insert(m_spill.end(), data + used, data + size);
    }
    return size;
}

std::size_t CFtpFile::Read(void* buffer, std::size_t count)
{
    if (count == 0 || (m_state != State::Reading && m_state != State::Ended))
        return 0;
    m_target = static_cast<char*>(buffer);
    m_wanted = count;
    m_got = 0;
    struct Reset {
        CFtpFile* f;
        ~Reset()
        {
            f->m_target = nullptr;
            f->m_wanted = f->m_got = 0;
        }
    } reset{this};

    const std::size_t held = std::min(count, m_spill.size() - m_spillPos);
    if (held)
        std::memcpy(m_target, m_spill.data() + m_spillPos, held);
    m_spillPos += held;
    m_got = held;

    CFtpConnection& c = m_connection;
    while (m_got < m_wanted && m_state == State::Reading) {
        bool ended = false;
        try {
            // May hand the held chunk over right here.
            c.ResumeTransfer();
            if (m_got == m_wanted)
                break;
            ended = c.DriveTransfer();
        } catch (...) {
            m_state = State::Closed;   // the connection has taken the transfer off
            throw;
        }
        if (ended) {
            c.EndTransfer();
            m_state = State::Ended;
        }
    }
    return m_got;
}

void CFtpFile::Close()
{
    // A reader that took every byte it wanted lets the transfer end as the
    // server ends it (end of data, then its reply), so the logged-in
    // connection serves the next request instead of being dropped.
    if (m_state == State::Reading && m_spillPos == m_spill.size() && !m_connection.TransferPaused()) {
        m_state = State::Draining;
        try {
            m_connection.EndTransfer();
        } catch (const CInternetException& e) {
            // A file longer than was read, or a run being stopped, cuts the
            // transfer: neither is a failure of what was read.
            const bool failed = m_state != State::Overrun && e.Kind() != FtpError::Stopped;
            m_state = State::Closed;
            if (failed)
                throw;
            return;
        }
        m_state = State::Closed;
        return;
    }
    if (m_state != State::Ended && m_state != State::Closed)
        m_connection.AbortTransfer();
    m_state = State::Closed;
    m_spill.clear();
    m_spillPos = 0;
}
