// Time to the first byte of an archive of the application folder, over the
// job's own steps: log in, one change into the folder, the listing, and the
// transfer until it hands over its first piece. Used by scripts/bench/first-byte.
#include "platform/CFtpConnection.h"
#include "platform/CFtpFileFind.h"
#include "worker/FtpSettings.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <vector>

int main(int argc, char** argv)
{
    if (argc < 4 || argc > 6) {
        std::fprintf(stderr, "usage: bench_first_byte HOST PORT NAME [ROUNDS [CA-FILE]]\n");
        return 2;
    }
    const int rounds = argc > 4 ? std::atoi(argv[4]) : 5;
    FtpTls tls;
    if (argc > 5) {
        // The connection takes the authority's certificates as text, not a path.
        std::ifstream ca(argv[5], std::ios::binary);
        std::ostringstream pem;
        pem << ca.rdbuf();
        if (!ca || pem.str().empty()) {
            std::fprintf(stderr, "bench_first_byte: cannot read %s\n", argv[5]);
            return 2;
        }
        tls = {FtpTls::Mode::Require, pem.str()};
    }
    std::vector<double> times;
    for (int i = 0; i < rounds; ++i) {
        using Clock = std::chrono::steady_clock;
        const auto start = Clock::now();
        Clock::time_point first{};
        CFtpConnection c(argv[1], std::atol(argv[2]), "vornpublic", GetFtpSettings().password, true, {}, {}, tls);
        if (!c.SetCurrentDirectory("Digital Product Updates/KEL/KEL Software DVD/ZIP"))
            return 1;
        CFtpFileFind finder(c);
        finder.FindFile();
        finder.Close();
        const bool open = c.BeginTransfer(argv[3], [&](std::uint64_t, const char*, std::size_t) {
            first = Clock::now();
            return FtpPause;
        });
        c.AbortTransfer();
        if (!open || first == Clock::time_point{})
            return 1;
        times.push_back(std::chrono::duration<double, std::milli>(first - start).count());
        std::printf("round %d: first byte after %.0f ms\n", i + 1, times.back());
    }
    std::sort(times.begin(), times.end());
    std::printf("median: %.0f ms\n", times[times.size() / 2]);
    return 0;
}
