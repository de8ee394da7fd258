#pragma once
#include <minizip/ioapi.h>

// minizip file access over pread with two cached 64 KiB windows: one stays on
// the central directory while the other follows the entry data, so walking
// an archive costs a read per 64 KiB instead of a seek and a read per header.
zlib_filefunc64_def ArchiveReaderFunctions();
