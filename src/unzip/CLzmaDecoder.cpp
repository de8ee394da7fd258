#include "unzip/CLzmaDecoder.h"

#include "unzip/LzmaStreamRun.h"

#include <cstdlib>
#include <memory>

namespace {

constexpr std::size_t kBufferSize = 64 * 1024;
constexpr std::size_t kHeader = 4;       // version (2 bytes), size of the properties (2 bytes)
constexpr std::size_t kProperties = 5;   // lc/lp/pb, dictionary size

bool IsZipLzmaHeader(const unsigned char* head, std::size_t size)
{
    return size >= kHeader + kProperties && (head[2] | head[3] << 8) == kProperties;
}

std::uint32_t DictionarySize(const unsigned char* head)
{
    const unsigned char* p = head + kHeader;
    return static_cast<std::uint32_t>(p[1] | p[2] << 8 | p[3] << 16) | static_cast<std::uint32_t>(p[4]) << 24;
}

// Reads exactly `size` bytes; false when the data ends before or a read fails.
bool ReadExactly(const CEntryDecoder::Source& source, unsigned char* data, std::size_t size)
{
    while (size > 0) {
        const long long got = source(data, size);
        if (got <= 0)
            return false;
        data += got;
        size -= static_cast<std::size_t>(got);
    }
    return true;
}

}   // namespace

CLzmaDecoder::CLzmaDecoder() : m_in(kBufferSize), m_out(kBufferSize)
{}

CLzmaDecoder::~CLzmaDecoder()
{
    lzma_end(&m_stream);
}

std::uint64_t CLzmaDecoder::MemoryAsked(const unsigned char* head, std::size_t size) const
{
    return IsZipLzmaHeader(head, size) ? DictionarySize(head) : 0;
}

bool CLzmaDecoder::Decode(const Source& source, const Sink& sink, std::uint64_t limit)
{
    unsigned char head[kHeader + kProperties];
    if (!ReadExactly(source, head, sizeof head))
        return false;
    if (!IsZipLzmaHeader(head, sizeof head) || DictionarySize(head) > kMemoryLimit)
        return false;
    lzma_filter filters[2] = {{LZMA_FILTER_LZMA1EXT, nullptr}, {LZMA_VLI_UNKNOWN, nullptr}};
    if (lzma_properties_decode(&filters[0], nullptr, head + kHeader, kProperties) != LZMA_OK)
        return false;
    auto* options = static_cast<lzma_options_lzma*>(filters[0].options);
    const std::unique_ptr<lzma_options_lzma, decltype(&std::free)> owned(options, &std::free);
    // The entry's size ends the stream; an end marker may end it as well
    // (zip's flag bit 1 says one is there, but writers differ).
    options->ext_flags = LZMA_LZMA1EXT_ALLOW_EOPM;
    options->ext_size_low = static_cast<std::uint32_t>(limit);
    options->ext_size_high = static_cast<std::uint32_t>(limit >> 32);
    if (lzma_raw_decoder(&m_stream, filters) != LZMA_OK)
        return false;
    return RunLzmaStream(m_stream, m_in, m_out, source, sink, limit);
}
