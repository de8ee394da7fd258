#pragma once
#include "worker/CPieceCheck.h"
#include "worker/SharedFetch.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

// One connection's fixed buffer: small pieces gather in it and go to disk
// in writes of 64 KiB at their place in the file, larger ones go straight
// from the connection's own buffer; only what is on disk counts as
// finished. The range's end is asked each time, as another connection may
// have taken the upper half of it meanwhile.
class CPieceWriter {
public:
    static constexpr std::uint32_t kChunk = 65536;

    // `flushed` is called after each write that reached the disk.
    CPieceWriter(SharedFetch& s, int slot, std::function<void()> flushed = {});

    void Start(bool open)
    {
        m_open = open;
        m_atEnd = m_failed = m_stopped = false;
        m_stream.Reset();
    }
    void Open() { m_open = true; }
    bool AtEnd() const { return m_atEnd; }
    bool Failed() const { return m_failed; }
    bool Stopped() const { return m_stopped; }

    // The connection's sink: all of a piece, or less to cut the transfer at
    // the range's end (or after a failed write).
    std::size_t Take(std::uint64_t offset, const char* data, std::size_t size);
    // Writes what the buffer holds; false when the write failed.
    bool Flush();

private:
    bool WriteAt(std::uint64_t at, const char* p, std::size_t length);

    SharedFetch& m_s;
    const int m_slot;
    std::unique_ptr<char[]> m_buffer;
    std::function<void()> m_flushed;
    // The pieces of a listed archive this connection writes whole, hashed on the way.
    CPieceCheck::Stream m_stream;
    std::vector<CPieceCheck::Stream::Hashed> m_hashed;
    std::uint64_t m_at = 0;
    std::size_t m_length = 0;
    bool m_open = true;
    bool m_atEnd = false;
    bool m_failed = false;
    bool m_stopped = false;
};
