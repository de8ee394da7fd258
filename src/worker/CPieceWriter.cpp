#include "worker/CPieceWriter.h"

#include "platform/CFtpConnection.h"
#include "worker/CPieceCheck.h"

#include <algorithm>
#include <cstring>
#include <mutex>

CPieceWriter::CPieceWriter(SharedFetch& s, int slot, std::function<void()> flushed)
    : m_s(s), m_slot(slot), m_buffer(std::make_unique<char[]>(kChunk)), m_flushed(std::move(flushed))
{}

std::size_t CPieceWriter::Take(std::uint64_t offset, const char* data, std::size_t size)
{
    if (!m_open)
        return FtpPause;   // held until the file's time has been checked
    if (m_s.over || m_s.stop()) {
        m_stopped = true;
        return 0;
    }
    std::uint64_t end = 0;
    {
        std::lock_guard<std::mutex> hold(m_s.lock);
        end = m_s.plan.EndOf(m_slot);
    }
    if (offset >= end) {
        m_atEnd = true;
        return 0;
    }
    const std::size_t use = static_cast<std::size_t>(std::min<std::uint64_t>(size, end - offset));
    for (std::size_t done = 0; done < use;) {
        // A whole buffer's worth goes to disk straight from the piece.
        if (m_length == 0 && use - done >= kChunk) {
            if (!WriteAt(offset + done, data + done, use - done))
                return 0;
            break;
        }
        if (m_length == 0)
            m_at = offset + done;
        const std::size_t n = std::min<std::size_t>(use - done, kChunk - m_length);
        std::memcpy(m_buffer.get() + m_length, data + done, n);
        m_length += n;
        done += n;
        if (m_length == kChunk && !Flush())
            return 0;
    }
    if (offset + use == end) {
        m_atEnd = true;
        if (!Flush())
            return 0;
    }
    return use;
}

bool CPieceWriter::Flush()
{
    const bool written = WriteAt(m_at, m_buffer.get(), m_length);
    m_length = 0;
    return written;
}

bool CPieceWriter::WriteAt(std::uint64_t at, const char* p, std::size_t length)
{
    // Bytes written again (a connection running on over another's) are not
    // read by the unpacking until they are on disk, and checked, once more.
    if (m_s.arriving)
        m_s.arriving->Withdrawn(at, at + length);
    if (const FileResult result = m_s.file.WriteAt(p, length, at); !result.Ok()) {
        std::lock_guard<std::mutex> hold(m_s.lock);
        if (m_s.writeError.Ok())
            m_s.writeError = result;
        m_failed = true;
        return false;
    }
    m_hashed.clear();
    if (m_s.listed)
        m_stream.Add(*m_s.listed, at, p, length, m_hashed);
    {
        std::lock_guard<std::mutex> hold(m_s.lock);
        m_s.plan.Finish(at, length);
        if (m_s.arriving && !m_s.listed)
            m_s.arriving->Arrived(at, at + length);
        if (m_s.pieces)
            m_s.pieces->Finished(at, length, m_hashed);
    }
    if (m_flushed)
        m_flushed();
    return true;
}
