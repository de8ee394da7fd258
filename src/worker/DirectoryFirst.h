#pragma once
#include "worker/CReleaseList.h"
#include "worker/CSegmentPlan.h"

#include <cstdint>
#include <optional>

// The tail of an archive fetched first without a release list: the 65,577
// bytes libzip reads when it opens an archive (the end record, its longest
// comment and the Zip64 locator), the Zip64 end record before them and, for a
// few hundred entries, the central directory itself.
inline constexpr std::uint64_t kDirectoryTail = 128u << 10;

// The next range a download of the segmenting size or more fetches before the
// rest, so that the archive's central directory is on disk first; nothing once
// it is there, or when where it lies is not known. `listed`: the archive as the
// release list names it, or none. `directoryOffset`: where the end records put
// the directory, once the tail is on disk and they could be read.
std::optional<ByteRange> DirectoryFirst(const CSegmentPlan& plan, const ReleaseArchive* listed,
                                        const std::optional<std::uint64_t>& directoryOffset);
