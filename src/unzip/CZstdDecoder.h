#pragma once
#include "unzip/CEntryDecoder.h"

#include <memory>
#include <vector>

struct ZSTD_DCtx_s;

// Decodes zip method 93, Zstandard: one or more frames. Windows above the
// bound are refused by the context itself (its largest window).
class CZstdDecoder : public CEntryDecoder {
public:
    CZstdDecoder();
    ~CZstdDecoder() override;

    bool Decode(const Source& source, const Sink& sink, std::uint64_t limit) override;
    // The largest frame header.
    std::size_t HeadSize() const override { return 18; }
    // The window of the first frame.
    std::uint64_t MemoryAsked(const unsigned char* head, std::size_t size) const override;

private:
    struct ContextFree {
        void operator()(ZSTD_DCtx_s* context) const;
    };
    std::unique_ptr<ZSTD_DCtx_s, ContextFree> m_context;
    std::vector<unsigned char> m_in;
    std::vector<unsigned char> m_out;
};
