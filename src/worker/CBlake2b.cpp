#include "worker/CBlake2b.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <iterator>

namespace {

constexpr std::uint64_t kIv[8] = {0x6a09e667f3bcc908, 0xbb67ae8584caa73b, 0x3c6ef372fe94f82b, 0xa54ff53a5f1d36f1,
                                  0x510e527fade682d1, 0x9b05688c2b3e6c1f, 0x1f83d9abfb41bd6b, 0x5be0cd19137e2179};

constexpr unsigned char kSigma[12][16] = {
    {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15}, {14, 10, 4, 8, 9, 15, 13, 6, 1, 12, 0, 2, 11, 7, 5, 3},
    {11, 8, 12, 0, 5, 2, 15, 13, 10, 14, 3, 6, 7, 1, 9, 4}, {7, 9, 3, 1, 13, 12, 11, 14, 2, 6, 5, 10, 4, 0, 15, 8},
    {9, 0, 5, 7, 2, 4, 10, 15, 14, 1, 11, 12, 6, 8, 3, 13}, {2, 12, 6, 10, 0, 11, 8, 3, 4, 13, 7, 5, 15, 14, 1, 9},
    {12, 5, 1, 15, 14, 13, 4, 10, 0, 7, 6, 3, 9, 2, 8, 11}, {13, 11, 7, 14, 12, 1, 3, 9, 5, 0, 15, 4, 8, 6, 2, 10},
    {6, 15, 14, 9, 11, 3, 0, 8, 12, 2, 13, 7, 1, 4, 10, 5}, {10, 2, 8, 4, 7, 6, 1, 5, 15, 11, 9, 14, 3, 12, 13, 0},
    {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15}, {14, 10, 4, 8, 9, 15, 13, 6, 1, 12, 0, 2, 11, 7, 5, 3}};

constexpr std::uint64_t Rotate(std::uint64_t x, int n)
{
    return (x >> n) | (x << (64 - n));
}

static_assert(std::endian::native == std::endian::little, "words are read as they lie in memory");

std::uint64_t Load(const unsigned char* p)
{
    std::uint64_t v = 0;
    std::memcpy(&v, p, 8);
    return v;
}

}   // namespace

CBlake2b::CBlake2b(std::size_t digestSize) : m_block{}, m_digestSize(std::clamp<std::size_t>(digestSize, 1, 64))
{
    std::copy(std::begin(kIv), std::end(kIv), m_h);
    m_h[0] ^= 0x01010000u ^ m_digestSize;   // fan-out 1, depth 1, no key
}

void CBlake2b::Count(std::size_t bytes)
{
    m_t[0] += bytes;
    if (m_t[0] < bytes)
        ++m_t[1];
}

void CBlake2b::Compress(const unsigned char* block, bool last)
{
    std::uint64_t m[16];
    for (int i = 0; i < 16; ++i)
        m[i] = Load(block + 8 * i);
    // The working vector as sixteen named words, which GCC keeps in
    // registers (an array it does not: a fifth slower), and each round's
    // message schedule known when compiled.
    std::uint64_t v0 = m_h[0], v1 = m_h[1], v2 = m_h[2], v3 = m_h[3], v4 = m_h[4], v5 = m_h[5], v6 = m_h[6],
                  v7 = m_h[7], v8 = kIv[0], v9 = kIv[1], v10 = kIv[2], v11 = kIv[3], v12 = kIv[4] ^ m_t[0],
                  v13 = kIv[5] ^ m_t[1], v14 = last ? ~kIv[6] : kIv[6], v15 = kIv[7];
#define VORN_MIX(a, b, c, d, x, y)                                                                                     \
    (a) = (a) + (b) + (x);                                                                                             \
    (d) = Rotate((d) ^ (a), 32);                                                                                       \
    (c) = (c) + (d);                                                                                                   \
    (b) = Rotate((b) ^ (c), 24);                                                                                       \
    (a) = (a) + (b) + (y);                                                                                             \
    (d) = Rotate((d) ^ (a), 16);                                                                                       \
    (c) = (c) + (d);                                                                                                   \
    (b) = Rotate((b) ^ (c), 63)
#define VORN_ROUND(r)                                                                                                  \
    VORN_MIX(v0, v4, v8, v12, m[kSigma[r][0]], m[kSigma[r][1]]);                                                       \
    VORN_MIX(v1, v5, v9, v13, m[kSigma[r][2]], m[kSigma[r][3]]);                                                       \
    VORN_MIX(v2, v6, v10, v14, m[kSigma[r][4]], m[kSigma[r][5]]);                                                      \
    VORN_MIX(v3, v7, v11, v15, m[kSigma[r][6]], m[kSigma[r][7]]);                                                      \
    VORN_MIX(v0, v5, v10, v15, m[kSigma[r][8]], m[kSigma[r][9]]);                                                      \
    VORN_MIX(v1, v6, v11, v12, m[kSigma[r][10]], m[kSigma[r][11]]);                                                    \
    VORN_MIX(v2, v7, v8, v13, m[kSigma[r][12]], m[kSigma[r][13]]);                                                     \
    VORN_MIX(v3, v4, v9, v14, m[kSigma[r][14]], m[kSigma[r][15]])
    VORN_ROUND(0);
    VORN_ROUND(1);
    VORN_ROUND(2);
    VORN_ROUND(3);
    VORN_ROUND(4);
    VORN_ROUND(5);
    VORN_ROUND(6);
    VORN_ROUND(7);
    VORN_ROUND(8);
    VORN_ROUND(9);
    VORN_ROUND(10);
    VORN_ROUND(11);
#undef VORN_ROUND
#undef VORN_MIX
    m_h[0] ^= v0 ^ v8;
    m_h[1] ^= v1 ^ v9;
    m_h[2] ^= v2 ^ v10;
    m_h[3] ^= v3 ^ v11;
    m_h[4] ^= v4 ^ v12;
    m_h[5] ^= v5 ^ v13;
    m_h[6] ^= v6 ^ v14;
    m_h[7] ^= v7 ^ v15;
}

void CBlake2b::Update(const void* data, std::size_t size)
{
    auto p = static_cast<const unsigned char*>(data);
    // The last block is compressed only in Final (it carries the last
    // flag), so a full buffer waits until more bytes come.
    while (size > 0) {
        if (m_filled == sizeof m_block) {
            Count(sizeof m_block);
            Compress(m_block, false);
            m_filled = 0;
        }
        if (m_filled == 0) {
            for (; size > sizeof m_block; p += sizeof m_block, size -= sizeof m_block) {
                Count(sizeof m_block);
                Compress(p, false);
            }
        }
        const std::size_t take = std::min(size, sizeof m_block - m_filled);
        std::memcpy(m_block + m_filled, p, take);
        m_filled += take;
        p += take;
        size -= take;
    }
}

void CBlake2b::Final(unsigned char* digest)
{
    Count(m_filled);
    std::memset(m_block + m_filled, 0, sizeof m_block - m_filled);
    Compress(m_block, true);
    for (std::size_t i = 0; i < m_digestSize; ++i)
        digest[i] = static_cast<unsigned char>(m_h[i / 8] >> (8 * (i % 8)));
}
