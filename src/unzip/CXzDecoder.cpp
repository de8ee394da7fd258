#include "unzip/CXzDecoder.h"

#include "unzip/LzmaStreamRun.h"

namespace {

constexpr std::size_t kBufferSize = 64 * 1024;
// Room beside the dictionary for the decoder's own state, so that a
// dictionary of exactly the bound still decodes.
constexpr std::uint64_t kStateRoom = 1u << 20;

}   // namespace

CXzDecoder::CXzDecoder() : m_in(kBufferSize), m_out(kBufferSize)
{}

CXzDecoder::~CXzDecoder()
{
    lzma_end(&m_stream);
}

std::uint64_t CXzDecoder::MemoryAsked(const unsigned char* head, std::size_t size) const
{
    lzma_stream_flags flags;
    if (size < LZMA_STREAM_HEADER_SIZE + 1 || lzma_stream_header_decode(&flags, head) != LZMA_OK)
        return 0;
    const unsigned char* block = head + LZMA_STREAM_HEADER_SIZE;
    if (block[0] == 0)   // the index: a stream without blocks
        return 0;
    lzma_filter filters[LZMA_FILTERS_MAX + 1];
    lzma_block header{};
    header.version = 1;
    header.check = flags.check;
    header.filters = filters;
    header.header_size = lzma_block_header_size_decode(block[0]);
    if (size - LZMA_STREAM_HEADER_SIZE < header.header_size ||
        lzma_block_header_decode(&header, nullptr, block) != LZMA_OK)
        return 0;
    std::uint64_t dictionary = 0;
    for (std::size_t i = 0; filters[i].id != LZMA_VLI_UNKNOWN; ++i)
        if (filters[i].id == LZMA_FILTER_LZMA2 && filters[i].options)
            dictionary = static_cast<const lzma_options_lzma*>(filters[i].options)->dict_size;
    lzma_filters_free(filters, nullptr);
    return dictionary;
}

bool CXzDecoder::Decode(const Source& source, const Sink& sink, std::uint64_t limit)
{
    if (lzma_stream_decoder(&m_stream, kMemoryLimit + kStateRoom, 0) != LZMA_OK)
        return false;
    return RunLzmaStream(m_stream, m_in, m_out, source, sink, limit);
}
