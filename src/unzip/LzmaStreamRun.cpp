#include "unzip/LzmaStreamRun.h"

bool RunLzmaStream(lzma_stream& stream, std::vector<unsigned char>& in, std::vector<unsigned char>& out,
                   const CEntryDecoder::Source& source, const CEntryDecoder::Sink& sink, std::uint64_t limit)
{
    std::uint64_t total = 0;
    lzma_action action = LZMA_RUN;
    stream.avail_in = 0;
    for (;;) {
        if (stream.avail_in == 0 && action == LZMA_RUN) {
            const long long got = source(in.data(), in.size());
            if (got < 0)
                return false;
            stream.next_in = in.data();
            stream.avail_in = static_cast<std::size_t>(got);
            if (got == 0)
                action = LZMA_FINISH;
        }
        stream.next_out = out.data();
        stream.avail_out = out.size();
        const lzma_ret ret = lzma_code(&stream, action);
        const std::size_t produced = out.size() - stream.avail_out;
        if (produced > limit - total)
            return false;
        total += produced;
        if (produced > 0 && !sink(out.data(), produced))
            return false;
        if (ret == LZMA_STREAM_END)
            return true;
        // LZMA_BUF_ERROR: the data ended before the stream did.
        if (ret != LZMA_OK)
            return false;
    }
}
