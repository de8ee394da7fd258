#include "worker/DirectoryFirst.h"

#include <algorithm>

std::optional<ByteRange> DirectoryFirst(const CSegmentPlan& plan, const ReleaseArchive* listed,
                                        const std::optional<std::uint64_t>& directoryOffset)
{
    const std::uint64_t size = plan.Size();
    // With the release list: the whole pieces that hold the directory and the
    // end records after it, to the file's end, so that each is checked as soon
    // as it is whole. Of a resumed part only the first stretch it lacks: bytes
    // it holds may be checked already and are never written twice.
    if (listed) {
        if (listed->pieceSize == 0 || listed->directoryOffset >= size)
            return std::nullopt;
        return plan.FirstMissingIn({listed->PieceBegin(listed->directoryOffset / listed->pieceSize), size});
    }
    // Without: first the tail, which holds the end records. Each range runs to
    // the file's end, so the server ends the transfer itself: one cut short
    // costs a new login, what comes twice is at most the tail.
    const ByteRange tail{size - std::min(size, kDirectoryTail), size};
    if (const std::optional<ByteRange> missing = plan.FirstMissingIn(tail))
        return ByteRange{missing->begin, size};
    // Then the directory, where the end records say it begins, when that lies
    // before the tail.
    if (!directoryOffset || *directoryOffset >= tail.begin)
        return std::nullopt;
    if (const std::optional<ByteRange> missing = plan.FirstMissingIn({*directoryOffset, tail.begin}))
        return ByteRange{missing->begin, size};
    return std::nullopt;
}
