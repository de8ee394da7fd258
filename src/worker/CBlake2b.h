#pragma once
#include <cstddef>
#include <cstdint>

// BLAKE2b (RFC 7693) without a key, of 1 to 64 bytes: the digest libsodium's
// crypto_generichash gives. The archive's pieces are hashed with this rather
// than with libsodium because libsodium 1.0.18 picks its AVX2 code wherever
// the processor has AVX2, and on recent AMD processors that code runs at half
// the speed of this plain one (0.63 against 1.0-1.2 GB/s, measured), and
// every byte of a release is hashed once.
class CBlake2b {
public:
    explicit CBlake2b(std::size_t digestSize = 32);
    void Update(const void* data, std::size_t size);
    // Writes the digest (digestSize bytes); the object is then spent.
    void Final(unsigned char* digest);

private:
    void Compress(const unsigned char* block, bool last);
    void Count(std::size_t bytes);

    std::uint64_t m_h[8];
    std::uint64_t m_t[2] = {0, 0};   // bytes hashed so far, 128 bits
    unsigned char m_block[128];
    std::size_t m_filled = 0;
    std::size_t m_digestSize;
};
