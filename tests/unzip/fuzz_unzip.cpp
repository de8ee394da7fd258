// libFuzzer target: arbitrary bytes as a zip archive, opened, walked and fully
// extracted into a scratch folder. Run by scripts/fuzz-unzip, not by CI.
#include "unzip/CUnzipper.h"

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>

namespace fs = std::filesystem;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const fs::path scratch = [] {
        fs::path p = fs::temp_directory_path() / ("vorn-fuzz-" + std::to_string(getpid()));
        fs::create_directories(p);
        return p;
    }();
    const fs::path archive = scratch / "in.zip";
    const fs::path target = scratch / "out" / "in";
    if (FILE* f = std::fopen(archive.c_str(), "wb")) {
        std::fwrite(data, 1, size, f);
        std::fclose(f);
    }
    {
        CUnzipper unzipper;
        int reads = 0;
        unzipper.SetStopCheck([&] { return size % 7 == 0 && ++reads > 3; });   // now and then a stop mid-entry
        unzipper.OpenArchive(archive.c_str());
        unzipper.GetTotalUncompressedSize();
        std::string entryName, problem;   // reads the first header of every LZMA, XZ and Zstandard entry
        unzipper.FindUndecodableEntry(entryName, problem);
        unzipper.SetTargetFolder(target.c_str());
        const int count = unzipper.GetEntryCount();
        for (int i = 0; i < count && i < 64; ++i) {
            ZipEntryInfo info;
            unzipper.GetEntryInfo(info);
            unzipper.ExtractEntry(nullptr, i % 2 == 1, i % 3 == 2 ? "pw" : nullptr);
            unzipper.GoToNextEntry(i % 4 == 3 ? "txt" : nullptr);
        }
    }
    // Nothing may ever appear beside the target folder.
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(scratch / "out", ec))
        if (e.path() != target)
            __builtin_trap();
    for (const auto& e : fs::directory_iterator(scratch, ec))
        if (e.path() != archive && e.path() != scratch / "out")
            __builtin_trap();
    fs::remove_all(scratch / "out", ec);
    return 0;
}
