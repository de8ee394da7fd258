#include "platform/CFtpFile.h"

#include "platform/CFtpConnection.h"
#include "platform/CInternetException.h"

#include <algorithm>
#include <cstring>

CFtpFile::CFtpFile(CFtpConnection& connection) : m_connection(connection) {}

CFtpFile::~CFtpFile()
{
    // Also reached while an error unwinds: no waiting for the server then.
    m_open = false;
    Detach();
}

std::size_t CFtpFile::OnData(char* data, std::size_t size, std::size_t count, void* self)
{
    auto* file = static_cast<CFtpFile*>(self);
    const std::size_t total = size * count;
    if (file->m_finishing) {
        // Bytes beyond all the reader wanted: the file is longer than listed.
        // Refusing them makes curl cut the transfer.
        file->m_overrun = true;
        return 0;
    }
    std::size_t used = 0;
    if (file->m_target && file->m_got < file->m_wanted) {
        used = std::min(total, file->m_wanted - file->m_got);
        std::memcpy(file->m_target + file->m_got, data, used);
        file->m_got += used;
    } else if (file->m_spillPos < file->m_spill.size()) {
        // The reader is satisfied and a chunk is already waiting: hold the
        // transfer until the next Read instead of buffering without bound.
        file->m_paused = true;
        return CURL_WRITEFUNC_PAUSE;
    }
    if (used < total) {
        if (file->m_spillPos == file->m_spill.size()) {
            file->m_spill.clear();
            file->m_spillPos = 0;
        }
        file->m_spill.insert(file->m_spill.end(), data + used, data + total);
    }
    return total;
}

bool CFtpFile::Start()
{
    CFtpConnection& c = m_connection;
    curl_multi_add_handle(c.m_multi.get(), c.m_easy.get());
    c.m_busy = true;
    m_open = m_attached = true;
    // Run until the first bytes arrive or the transfer ends, so that a refused
    // file is known here and not at the first read.
    CURLcode result = CURLE_OK;
    try {
        while (m_spill.empty()) {
            if (c.Drive(result)) {
                m_done = true;
                break;
            }
            if (m_spill.empty())
                c.Wait();
        }
    } catch (...) {
        Close();
        throw;
    }
    if (!m_done)
        return true;
    Detach();
    if (result == CURLE_OK)
        return true;
    Close();
    switch (result) {
    case CURLE_REMOTE_FILE_NOT_FOUND:
    case CURLE_REMOTE_ACCESS_DENIED:
    case CURLE_FTP_COULDNT_RETR_FILE:
        return false;
    default:
        c.Throw(result);
    }
}

std::size_t CFtpFile::Read(void* buffer, std::size_t count)
{
    if (count == 0 || !m_open)
        return 0;
    m_target = static_cast<char*>(buffer);
    m_wanted = count;
    m_got = 0;
    struct Reset {
        CFtpFile* f;
        ~Reset() { f->m_target = nullptr; f->m_wanted = f->m_got = 0; }
    } reset{this};

    const std::size_t held = std::min(count, m_spill.size() - m_spillPos);
    if (held)
        std::memcpy(m_target, m_spill.data() + m_spillPos, held);
    m_spillPos += held;
    m_got = held;

    CFtpConnection& c = m_connection;
    while (m_got < m_wanted && !m_done) {
        if (m_paused) {
            m_paused = false;
            // May hand the held chunk to OnData right here.
            curl_easy_pause(c.m_easy.get(), CURLPAUSE_CONT);
            if (m_got == m_wanted)
                break;
        }
        CURLcode result = CURLE_OK;
        if (c.Drive(result)) {
            m_done = true;
            Detach();
            if (result != CURLE_OK)
                c.Throw(result);
        } else if (m_got < m_wanted) {
            c.Wait();
        }
    }
    return m_got;
}

void CFtpFile::Detach()
{
    if (!m_attached)
        return;
    m_attached = false;
    // Removing an unfinished transfer aborts it; curl drops that connection
    // and logs in again on the next request.
    curl_multi_remove_handle(m_connection.m_multi.get(), m_connection.m_easy.get());
    curl_easy_setopt(m_connection.m_easy.get(), CURLOPT_WRITEDATA, nullptr);
    m_connection.m_busy = false;
}

bool CFtpFile::Finish()
{
    if (m_spillPos < m_spill.size() || m_paused)
        return false;   // the server has sent more than was read
    m_finishing = true;
    try {
        CURLcode result = CURLE_OK;
        while (!m_connection.Drive(result)) {
            if (m_overrun)
                return false;
            m_connection.Wait();
        }
        m_done = true;
        return !m_overrun;
    } catch (...) {
        return false;   // cancelled or broken: the transfer is cut below
    }
}

void CFtpFile::Close()
{
    // A reader that took every byte it wanted lets the transfer end as the
    // server ends it (end of data, then its reply), so the logged-in
    // connection serves the next request instead of being dropped.
    if (m_open && m_attached && !m_done)
        Finish();
    m_open = false;
    Detach();
}
