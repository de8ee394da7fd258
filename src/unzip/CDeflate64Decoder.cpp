#include "unzip/CDeflate64Decoder.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr unsigned kWindowSize = 1u << 16;
constexpr unsigned kWindowMask = kWindowSize - 1;
constexpr std::size_t kInputSize = 1u << 16;
constexpr unsigned kMaxBits = 15;
// Codes up to this length are decoded by one table look-up, longer ones bit by bit.
constexpr unsigned kFastBits = 10;
constexpr unsigned kMaxLiteralCodes = 288;
constexpr unsigned kMaxDistanceCodes = 32;

// Length symbols 257..285; the last one is 3 + 16 extra bits in Deflate64 (258 in Deflate).
constexpr std::uint16_t kLengthBase[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                           31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 3};
constexpr std::uint8_t kLengthExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                           2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 16};
// Distance symbols 0..31; 30 and 31 reach back up to 64 KiB.
constexpr std::uint32_t kDistanceBase[32] = {1,    2,    3,    4,    5,    7,     9,     13,    17,    25,   33,
                                             49,   65,   97,   129,  193,  257,   385,   513,   769,   1025, 1537,
                                             2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577, 32769, 49153};
constexpr std::uint8_t kDistanceExtra[32] = {0, 0, 0, 0, 1, 1, 2,  2,  3,  3,  4,  4,  5,  5,  6,  6,
                                             7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13, 14, 14};
// The order in which a dynamic block lists the lengths of its code-length code.
constexpr std::uint8_t kCodeLengthOrder[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

// A canonical Huffman code: a table for short codes (symbol | length << 9,
// length 0 for a longer code or none) and counts and symbols for the rest.
struct Huffman {
    std::uint16_t fast[1u << kFastBits];
    std::uint16_t count[kMaxBits + 1];
    std::uint16_t symbol[kMaxLiteralCodes];

    // False for an over-subscribed set of lengths; an incomplete one is
    // accepted, and its unused codes fail when they are met.
    bool Build(const std::uint8_t* lengths, unsigned n)
    {
        std::memset(count, 0, sizeof count);
        for (unsigned i = 0; i < n; ++i)
            ++count[lengths[i]];
        count[0] = 0;
        int left = 1;
        for (unsigned len = 1; len <= kMaxBits; ++len) {
            left = (left << 1) - count[len];
            if (left < 0)
                return false;
        }
        std::uint16_t offset[kMaxBits + 2] = {};
        std::uint32_t next[kMaxBits + 1] = {};
        std::uint32_t code = 0;
        for (unsigned len = 1; len <= kMaxBits; ++len) {
            offset[len + 1] = static_cast<std::uint16_t>(offset[len] + count[len]);
            code = (code + count[len - 1]) << 1;
            next[len] = code;
        }
        std::memset(fast, 0, sizeof fast);
        for (unsigned s = 0; s < n; ++s) {
            const unsigned len = lengths[s];
            if (len == 0)
                continue;
            symbol[offset[len]++] = static_cast<std::uint16_t>(s);
            const std::uint32_t c = next[len]++;
            if (len > kFastBits)
                continue;
            // The stream sends a code's first bit first: the table is indexed by the reversed code.
            unsigned reversed = 0;
            for (unsigned b = 0; b < len; ++b)
                reversed |= ((c >> b) & 1u) << (len - 1 - b);
            for (unsigned j = reversed; j < (1u << kFastBits); j += 1u << len)
                fast[j] = static_cast<std::uint16_t>(s | len << 9);
        }
        return true;
    }
};

}   // namespace

struct CDeflate64Decoder::State {
    unsigned char window[kWindowSize];
    unsigned char input[kInputSize];
    Huffman literals;
    Huffman distances;
    Huffman codeLengths;
    Huffman fixedLiterals;
    Huffman fixedDistances;

    const Source* source = nullptr;
    const Sink* sink = nullptr;
    std::uint64_t limit = 0;
    unsigned position = 0;     // next byte of the window to fill
    std::uint64_t total = 0;   // bytes decoded so far
    const unsigned char* in = nullptr;
    const unsigned char* end = nullptr;
    std::uint64_t bits = 0;
    unsigned bitCount = 0;
    unsigned padBytes = 0;   // zero bytes added past the end of the data
    bool sourceDone = false;
    bool failed = false;

    void Reset(const Source& from, const Sink& to, std::uint64_t most)
    {
        source = &from;
        sink = &to;
        limit = most;
        position = 0;
        total = 0;
        in = end = nullptr;
        bits = 0;
        bitCount = 0;
        padBytes = 0;
        sourceDone = false;
        failed = false;
    }

    // Reads the next block of input; false at the end of the data or on a read error.
    bool Refill()
    {
        if (sourceDone)
            return false;
        const long long n = (*source)(input, kInputSize);
        if (n <= 0) {
            sourceDone = true;
            failed |= n < 0;
            return false;
        }
        in = input;
        end = input + std::min<std::size_t>(static_cast<std::size_t>(n), kInputSize);
        return true;
    }

    // At least `n` (up to 32) bits in the buffer. Past the end of the data
    // zeros are added so that a look-ahead can be made; using them is an error.
    void Need(unsigned n)
    {
        while (bitCount < n) {
            if (in == end && !Refill()) {
                ++padBytes;
                bitCount += 8;
                continue;
            }
            bits |= static_cast<std::uint64_t>(*in++) << bitCount;
            bitCount += 8;
        }
    }

    void Drop(unsigned n)
    {
        bits >>= n;
        bitCount -= n;
        // Bits of the added zeros were used: the data ended too soon.
        if (padBytes * 8 > bitCount)
            failed = true;
    }

    std::uint32_t Bits(unsigned n)
    {
        if (n == 0)
            return 0;
        Need(n);
        const auto value = static_cast<std::uint32_t>(bits & ((std::uint64_t{1} << n) - 1));
        Drop(n);
        return value;
    }

    // The next symbol of `h`; -1 for a code that the set does not use.
    int Decode(const Huffman& h)
    {
        Need(kMaxBits);
        const unsigned entry = h.fast[bits & ((1u << kFastBits) - 1)];
        if (entry >> 9) {
            Drop(entry >> 9);
            return static_cast<int>(entry & 0x1FF);
        }
        int code = 0;
        int first = 0;
        int index = 0;
        for (unsigned len = 1; len <= kMaxBits; ++len) {
            code |= static_cast<int>((bits >> (len - 1)) & 1u);
            const int count = h.count[len];
            if (code - count < first) {
                Drop(len);
                return h.symbol[index + (code - first)];
            }
            index += count;
            first = (first + count) << 1;
            code <<= 1;
        }
        failed = true;
        return -1;
    }

    // Hands the full window on; it keeps its bytes as the history for distances.
    bool Flush()
    {
        const bool ok = (*sink)(window, position);
        position = 0;
        return ok;
    }

    // Stored: from the next byte boundary, a length, its complement and the bytes.
    bool StoredBlock()
    {
        Drop(bitCount % 8);
        const std::uint32_t length = Bits(16);
        if (Bits(16) != (~length & 0xFFFFu) || failed || length > limit - total)
            return false;
        std::uint32_t left = length;
        while (left > 0 && bitCount >= 8) {
            window[position++] = static_cast<unsigned char>(bits);
            Drop(8);
            --left;
            if (position == kWindowSize && !Flush())
                return false;
        }
        if (failed)
            return false;
        while (left > 0) {
            if (in == end && !Refill())
                return false;
            const auto n = static_cast<unsigned>(
                std::min<std::size_t>({left, static_cast<std::size_t>(end - in), kWindowSize - position}));
            std::memcpy(window + position, in, n);
            in += n;
            position += n;
            left -= n;
            if (position == kWindowSize && !Flush())
                return false;
        }
        total += length;
        return true;
    }

    // Dynamic: the two codes of the block, sent as lengths coded with a code of their own.
    bool ReadCodes()
    {
        const unsigned literalCount = Bits(5) + 257;
        const unsigned distanceCount = Bits(5) + 1;
        const unsigned codeLengthCount = Bits(4) + 4;
        std::uint8_t lengths[kMaxLiteralCodes + kMaxDistanceCodes] = {};
        for (unsigned i = 0; i < codeLengthCount; ++i)
            lengths[kCodeLengthOrder[i]] = static_cast<std::uint8_t>(Bits(3));
        if (failed || !codeLengths.Build(lengths, 19))
            return false;
        std::memset(lengths, 0, 19);
        const unsigned wanted = literalCount + distanceCount;
        for (unsigned i = 0; i < wanted;) {
            const int symbol = Decode(codeLengths);
            if (symbol < 0 || failed)
                return false;
            if (symbol < 16) {
                lengths[i++] = static_cast<std::uint8_t>(symbol);
                continue;
            }
            std::uint8_t value = 0;
            unsigned repeat = 0;
            if (symbol == 16) {
                if (i == 0)
                    return false;
                value = lengths[i - 1];
                repeat = 3 + Bits(2);
            } else if (symbol == 17) {
                repeat = 3 + Bits(3);
            } else {
                repeat = 11 + Bits(7);
            }
            if (repeat > wanted - i)
                return false;
            std::fill(lengths + i, lengths + i + repeat, value);
            i += repeat;
        }
        // A block without an end code could never end.
        return !failed && lengths[256] != 0 && literals.Build(lengths, literalCount) &&
               distances.Build(lengths + literalCount, distanceCount);
    }

    // The block's symbols: literal bytes, copies from the window, and its end.
    bool CodedBlock(const Huffman& literalCode, const Huffman& distanceCode)
    {
        for (;;) {
            const int symbol = Decode(literalCode);
            if (symbol < 0 || failed)
                return false;
            if (symbol < 256) {
                if (total == limit)
                    return false;
                window[position++] = static_cast<unsigned char>(symbol);
                ++total;
                if (position == kWindowSize && !Flush())
                    return false;
                continue;
            }
            if (symbol == 256)
                return true;
            if (symbol > 285)
                return false;
            const std::uint32_t length = kLengthBase[symbol - 257] + Bits(kLengthExtra[symbol - 257]);
            const int code = Decode(distanceCode);
            if (code < 0 || code >= static_cast<int>(kMaxDistanceCodes))
                return false;
            const std::uint32_t distance = kDistanceBase[code] + Bits(kDistanceExtra[code]);
            if (failed || distance > total || length > limit - total)
                return false;
            unsigned from = (position - distance) & kWindowMask;
            for (std::uint32_t i = 0; i < length; ++i) {
                window[position++] = window[from];
                from = (from + 1) & kWindowMask;
                if (position == kWindowSize && !Flush())
                    return false;
            }
            total += length;
        }
    }
};

CDeflate64Decoder::CDeflate64Decoder() : m_state(std::make_unique<State>())
{
    std::uint8_t lengths[kMaxLiteralCodes];
    std::fill(lengths, lengths + 144, 8);
    std::fill(lengths + 144, lengths + 256, 9);
    std::fill(lengths + 256, lengths + 280, 7);
    std::fill(lengths + 280, lengths + kMaxLiteralCodes, 8);
    m_state->fixedLiterals.Build(lengths, kMaxLiteralCodes);
    std::fill(lengths, lengths + kMaxDistanceCodes, 5);
    m_state->fixedDistances.Build(lengths, kMaxDistanceCodes);
}

CDeflate64Decoder::~CDeflate64Decoder() = default;

bool CDeflate64Decoder::Decode(const Source& source, const Sink& sink, std::uint64_t limit)
{
    State& s = *m_state;
    s.Reset(source, sink, limit);
    bool last = false;
    while (!last) {
        last = s.Bits(1) != 0;
        const unsigned type = s.Bits(2);
        if (s.failed)
            return false;
        bool ok = false;
        if (type == 0)
            ok = s.StoredBlock();
        else if (type == 1)
            ok = s.CodedBlock(s.fixedLiterals, s.fixedDistances);
        else if (type == 2)
            ok = s.ReadCodes() && s.CodedBlock(s.literals, s.distances);
        if (!ok)
            return false;
    }
    return s.position == 0 || s.Flush();
}
