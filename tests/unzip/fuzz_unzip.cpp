// libFuzzer target: arbitrary bytes as a zip archive, opened, walked and fully
// extracted into a scratch folder. Run by scripts/fuzz-unzip, not by CI.
#include "platform/CFolder.h"
#include "unzip/CArrivingBytes.h"
#include "unzip/CUnzipper.h"

#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;

namespace {

// The same bytes read while they arrive in blocks of random order and size,
// as a download writes them; now and then the download fails half way.
void UnpackArriving(const fs::path& scratch, const fs::path& target, const std::uint8_t* data, std::size_t size)
{
    const CFolder folder = CFolder::OpenPath(scratch.string(), false);
    CFile writer = folder.OpenFile("in.part", FileOpen::Replace);
    if (!writer.Truncate(size).Ok())
        return;
    auto bytes = std::make_shared<CArrivingBytes>(size);
    std::thread download([&] {
        std::mt19937 random(static_cast<unsigned>(size));
        std::vector<std::pair<std::size_t, std::size_t>> blocks;
        for (std::size_t at = 0; at < size;) {
            const std::size_t length = std::min<std::size_t>(size - at, 1 + random() % 4096);
            blocks.emplace_back(at, length);
            at += length;
        }
        std::shuffle(blocks.begin(), blocks.end(), random);
        const bool fails = size % 5 == 0;
        for (std::size_t i = 0; i < blocks.size(); ++i) {
            if (fails && i == blocks.size() / 2) {
                bytes->Fail();
                return;
            }
            if (!writer.WriteAt(data + blocks[i].first, blocks[i].second, blocks[i].first).Ok()) {
                bytes->Fail();
                return;
            }
            bytes->Arrived(blocks[i].first, blocks[i].first + blocks[i].second);
        }
    });
    {
        CUnzipper unzipper;
        if (unzipper.OpenArchive(folder.OpenFile("in.part", FileOpen::Read), (scratch / "in.zip").string(), bytes) &&
            unzipper.SetTargetFolder(target.c_str())) {
            const int count = unzipper.GetEntryCount();
            for (int i = 0; i < count && i < 64 && !unzipper.ArchiveBroken(); ++i) {
                unzipper.ExtractEntry(nullptr, false, i % 3 == 2 ? "pw" : nullptr);
                unzipper.GoToNextEntry(nullptr);
            }
        }
    }
    download.join();
    std::error_code ec;
    fs::remove(scratch / "in.part", ec);
}

}   // namespace

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
    UnpackArriving(scratch, target, data, size);
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
