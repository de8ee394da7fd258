#include "unzip/CZstdDecoder.h"

#define ZSTD_STATIC_LINKING_ONLY   // ZSTD_getFrameHeader
#include <zstd.h>

namespace {

constexpr std::size_t kBufferSize = 64 * 1024;
constexpr int kWindowLogMax = 28;   // 256 MiB, the bound
static_assert(1ull << kWindowLogMax == CEntryDecoder::kMemoryLimit);

}   // namespace

void CZstdDecoder::ContextFree::operator()(ZSTD_DCtx_s* context) const
{
    ZSTD_freeDCtx(context);
}

CZstdDecoder::CZstdDecoder() : m_in(kBufferSize), m_out(kBufferSize)
{}

CZstdDecoder::~CZstdDecoder() = default;

std::uint64_t CZstdDecoder::MemoryAsked(const unsigned char* head, std::size_t size) const
{
    ZSTD_frameHeader header{};
    if (ZSTD_getFrameHeader(&header, head, size) != 0 || header.frameType != ZSTD_frame)
        return 0;
    return header.windowSize;
}

bool CZstdDecoder::Decode(const Source& source, const Sink& sink, std::uint64_t limit)
{
    if (!m_context)
        m_context.reset(ZSTD_createDCtx());
    if (!m_context || ZSTD_isError(ZSTD_DCtx_reset(m_context.get(), ZSTD_reset_session_and_parameters)) ||
        ZSTD_isError(ZSTD_DCtx_setParameter(m_context.get(), ZSTD_d_windowLogMax, kWindowLogMax)))
        return false;
    std::uint64_t total = 0;
    std::size_t left = 1;   // what the current frame still needs; 0 between frames
    bool any = false;
    bool flushing = false;   // the last call filled the output: it may hold more
    ZSTD_inBuffer in{m_in.data(), 0, 0};
    for (;;) {
        if (in.pos == in.size && !flushing) {
            const long long got = source(m_in.data(), m_in.size());
            if (got < 0)
                return false;
            if (got == 0)   // the data ends: only between frames is that the end
                return any && left == 0;
            in = {m_in.data(), static_cast<std::size_t>(got), 0};
        }
        ZSTD_outBuffer out{m_out.data(), m_out.size(), 0};
        left = ZSTD_decompressStream(m_context.get(), &out, &in);
        if (ZSTD_isError(left) || out.pos > limit - total)
            return false;
        any = true;
        flushing = out.pos == out.size;
        total += out.pos;
        if (out.pos > 0 && !sink(m_out.data(), out.pos))
            return false;
    }
}
