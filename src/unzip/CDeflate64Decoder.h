#pragma once
#include "unzip/CEntryDecoder.h"

#include <cstddef>
#include <cstdint>
#include <memory>

// Decodes zip method 9, Deflate64: Deflate with a 64 KiB window, length code
// 285 carrying 16 extra bits and distance codes 30 and 31. Windows writes it
// for large compressed folders, and neither libzip nor zlib reads it. Memory
// is fixed (window, input block, code tables), whatever the stream says.
class CDeflate64Decoder : public CEntryDecoder {
public:
    CDeflate64Decoder();
    ~CDeflate64Decoder() override;

    // Decodes one stream to its final block. False for a damaged or truncated
    // stream, for one that would give more than `limit` bytes (nothing past
    // the limit reaches the sink), and when the source or the sink fails.
    bool Decode(const Source& source, const Sink& sink, std::uint64_t limit) override;
    // The window is fixed at 64 KiB.
    std::size_t HeadSize() const override { return 0; }
    std::uint64_t MemoryAsked(const unsigned char*, std::size_t) const override { return 0; }

private:
    struct State;
    std::unique_ptr<State> m_state;
};
