#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>

// Undoes one compression method that libzip hands over raw. Each decoder
// keeps its memory within kMemoryLimit, whatever the data asks for.
class CEntryDecoder {
public:
    // Fills up to `size` bytes of compressed data; 0 at its end, negative on a read error.
    using Source = std::function<long long(unsigned char* data, std::size_t size)>;
    // Takes decoded bytes in order; false stops the decoding (a write error or a stop).
    using Sink = std::function<bool(const unsigned char* data, std::size_t size)>;

    // The largest dictionary or window a stream may ask for.
    static constexpr std::uint64_t kMemoryLimit = 256ull << 20;

    CEntryDecoder() = default;
    virtual ~CEntryDecoder() = default;
    CEntryDecoder(const CEntryDecoder&) = delete;
    CEntryDecoder& operator=(const CEntryDecoder&) = delete;

    // Decodes one entry's data. False for damaged or truncated data, for data
    // that would give more than `limit` bytes (nothing past the limit reaches
    // the sink), for a stream that asks for more memory than the bound, and
    // when the source or the sink fails.
    virtual bool Decode(const Source& source, const Sink& sink, std::uint64_t limit) = 0;
    // How many bytes of a stream's beginning MemoryAsked reads at most; 0
    // for a method whose memory is fixed.
    virtual std::size_t HeadSize() const = 0;
    // The dictionary or window, in bytes, that the stream beginning with
    // `head` asks for in its first header; 0 when that header does not say
    // (decoding then judges the data).
    virtual std::uint64_t MemoryAsked(const unsigned char* head, std::size_t size) const = 0;
};
