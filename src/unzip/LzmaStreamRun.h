#pragma once
#include "unzip/CEntryDecoder.h"

#include <lzma.h>

#include <cstdint>
#include <vector>

// Runs a liblzma decoder set up on `stream` from the source to the sink
// through `in` and `out`, until the stream's end. False for damaged or
// truncated data, data giving more than `limit` bytes (none of them passed
// on), a memory limit met, and a failing source or sink.
bool RunLzmaStream(lzma_stream& stream, std::vector<unsigned char>& in, std::vector<unsigned char>& out,
                   const CEntryDecoder::Source& source, const CEntryDecoder::Sink& sink, std::uint64_t limit);
