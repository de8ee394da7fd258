// Extracts a whole archive the way the worker does (open, target, count,
// extract, next); used by scripts/bench/unzip.
#include "unzip/CUnzipper.h"

#include <cstdio>

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: bench_unzip ARCHIVE FOLDER\n");
        return 2;
    }
    CUnzipper unzipper;
    if (!unzipper.OpenArchive(argv[1]) || !unzipper.SetTargetFolder(argv[2]))
        return 1;
    const int count = unzipper.GetEntryCount();
    int failed = 0;
    for (int i = 0; i < count; ++i) {
        failed += !unzipper.ExtractEntry(nullptr, false, nullptr);
        unzipper.GoToNextEntry(nullptr);
    }
    return failed ? 1 : 0;
}
