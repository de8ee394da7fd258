// libFuzzer target for the Deflate64 decoder: the input is the compressed
// stream, handed over in uneven pieces; the first two bytes set the limit.
// Every decoded byte must lie within the limit. Run by scripts/fuzz-deflate64.
#include "unzip/CDeflate64Decoder.h"

#include <cstdint>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static CDeflate64Decoder decoder;
    if (size < 2)
        return 0;
    // Up to 16 MiB, in steps that make both a tight and a loose limit likely.
    const std::uint64_t limit = static_cast<std::uint64_t>(data[0] | data[1] << 8) << 8;
    data += 2;
    size -= 2;
    std::size_t at = 0;
    unsigned piece = 1;
    const auto source = [&](unsigned char* out, std::size_t room) -> long long {
        piece = piece * 7 % 4093 + 1;
        const std::size_t n = std::min({room, size - at, static_cast<std::size_t>(piece)});
        std::memcpy(out, data + at, n);
        at += n;
        return static_cast<long long>(n);
    };
    std::uint64_t total = 0;
    const auto sink = [&](const unsigned char* bytes, std::size_t n) {
        total += n;
        if (total > limit || (n && bytes == nullptr))
            __builtin_trap();
        return true;
    };
    decoder.Decode(source, sink, limit);
    return 0;
}
