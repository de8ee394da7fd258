// The speed of the pieces' hash: the program's own BLAKE2b against
// libsodium's crypto_generichash (the code libsodium picks for this
// processor), over the same bytes in memory, best of five passes each.
// Used by scripts/bench/hash.
#include "worker/CBlake2b.h"

#include <sodium.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

template <typename Hash>
double BestRate(const std::vector<unsigned char>& data, std::size_t piece, Hash hash)
{
    double best = 0;
    for (int pass = 0; pass < 5; ++pass) {
        const auto start = std::chrono::steady_clock::now();
        for (std::size_t at = 0; at < data.size(); at += piece)
            hash(data.data() + at, std::min(piece, data.size() - at));
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        best = std::max(best, static_cast<double>(data.size()) / seconds / 1e9);
    }
    return best;
}

}   // namespace

int main(int argc, char** argv)
{
    if (sodium_init() < 0)
        return 1;
    const std::size_t mib = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 256;
    std::vector<unsigned char> data(mib << 20);
    randombytes_buf(data.data(), data.size());
    const std::size_t piece = 1u << 20;
    unsigned char digest[32];
    const double own = BestRate(data, piece, [&](const unsigned char* p, std::size_t n) {
        CBlake2b hash(sizeof digest);
        hash.Update(p, n);
        hash.Final(digest);
    });
    const double sodium = BestRate(data, piece, [&](const unsigned char* p, std::size_t n) {
        crypto_generichash(digest, sizeof digest, p, n, nullptr, 0);
    });
    std::printf("BLAKE2b-256 of %zu MiB in 1 MiB pieces, one core: own %.2f GB/s, libsodium %.2f GB/s "
                "(AVX2 %s), own/libsodium %.2f\n",
                mib, own, sodium, sodium_runtime_has_avx2() ? "yes" : "no", own / sodium);
}
