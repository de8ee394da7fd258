#pragma once
#include "unzip/CEntryDecoder.h"

#include <lzma.h>

#include <vector>

// Decodes zip method 95, XZ: one .xz stream, its own checks verified. The
// decoder's memory limit holds every block to the bound.
class CXzDecoder : public CEntryDecoder {
public:
    CXzDecoder();
    ~CXzDecoder() override;

    bool Decode(const Source& source, const Sink& sink, std::uint64_t limit) override;
    // The stream header and the largest block header.
    std::size_t HeadSize() const override { return 12 + 1024; }
    // The dictionary of the first block's LZMA2 filter.
    std::uint64_t MemoryAsked(const unsigned char* head, std::size_t size) const override;

private:
    lzma_stream m_stream = LZMA_STREAM_INIT;
    std::vector<unsigned char> m_in;
    std::vector<unsigned char> m_out;
};
