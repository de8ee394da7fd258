#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

// Decodes zip method 9, Deflate64: Deflate with a 64 KiB window, length code
// 285 carrying 16 extra bits and distance codes 30 and 31. Windows writes it
// for large compressed folders, and neither libzip nor zlib reads it. Memory
// is fixed (window, input block, code tables), whatever the stream says.
class CDeflate64Decoder {
public:
    // Fills up to `size` bytes of compressed data; 0 at its end, negative on a read error.
    using Source = std::function<long long(unsigned char* data, std::size_t size)>;
    // Takes decoded bytes in order; false stops the decoding (a write error or a stop).
    using Sink = std::function<bool(const unsigned char* data, std::size_t size)>;

    CDeflate64Decoder();
    ~CDeflate64Decoder();
    CDeflate64Decoder(const CDeflate64Decoder&) = delete;
    CDeflate64Decoder& operator=(const CDeflate64Decoder&) = delete;

    // Decodes one stream to its final block. False for a damaged or truncated
    // stream, for one that would give more than `limit` bytes (nothing past
    // the limit reaches the sink), and when the source or the sink fails.
    bool Decode(const Source& source, const Sink& sink, std::uint64_t limit);

private:
    struct State;
    std::unique_ptr<State> m_state;
};
