#pragma once
#include "platform/CFile.h"
#include "unzip/CArrivingBytes.h"

#include <memory>

typedef struct zip_source zip_source_t;

// A libzip source reading an archive while it is being downloaded: each read
// waits until the bytes it needs have arrived (CArrivingBytes), and fails at
// once when the download fails or the run is stopped. A read never returns
// fewer bytes than asked before the end of the file: libzip takes a short
// read for the end, and an error as final.
namespace ArrivingSource {

// The source shares `file` and `bytes`; null on failure. Reads go through a
// buffer of the bytes already there.
zip_source_t* Create(std::shared_ptr<const CFile> file, std::shared_ptr<CArrivingBytes> bytes);

}   // namespace ArrivingSource
