#pragma once
#include "unzip/CEntryDecoder.h"

#include <lzma.h>

#include <vector>

// Decodes zip method 14, LZMA (what 7-Zip writes with -mm=LZMA and Python's
// zipfile with ZIP_LZMA): a 4-byte header (version, size of the properties),
// the 5 bytes of LZMA properties, then a raw LZMA1 stream, ended by the
// entry's size or an end marker. A dictionary above the bound is refused
// before the decoder is made.
class CLzmaDecoder : public CEntryDecoder {
public:
    CLzmaDecoder();
    ~CLzmaDecoder() override;

    bool Decode(const Source& source, const Sink& sink, std::uint64_t limit) override;
    std::size_t HeadSize() const override { return 9; }
    std::uint64_t MemoryAsked(const unsigned char* head, std::size_t size) const override;

private:
    lzma_stream m_stream = LZMA_STREAM_INIT;
    std::vector<unsigned char> m_in;
    std::vector<unsigned char> m_out;
};
