#include "worker/CArchiveHasher.h"

#include <algorithm>
#include <chrono>
#include <vector>

namespace {

// Large reads keep the hash at its own speed; nothing is held beyond one.
constexpr std::size_t kPiece = 1u << 20;
// How long the hasher waits for more bytes to reach the disk.
constexpr auto kIdle = std::chrono::milliseconds(2);

}   // namespace

CArchiveHasher::CArchiveHasher(CReleaseSignature& signature, const CFile& file, std::function<std::uint64_t()> ready)
    : m_signature(signature), m_file(file), m_ready(std::move(ready)), m_thread([this] { Follow(); })
{}

CArchiveHasher::~CArchiveHasher()
{
    {
        std::lock_guard<std::mutex> hold(m_lock);
        m_stop = true;
    }
    m_wake.notify_all();
    m_thread.join();
}

void CArchiveHasher::Follow()
{
    std::vector<char> buffer(kPiece);
    std::unique_lock<std::mutex> hold(m_lock);
    while (!m_stop) {
        hold.unlock();
        const std::uint64_t at = m_signature.Hashed();
        const std::uint64_t ready = m_ready();
        long long n = 0;
        if (ready > at)
            n = m_file.ReadAt(buffer.data(), static_cast<std::size_t>(std::min<std::uint64_t>(ready - at, kPiece)), at);
        if (n > 0)
            m_signature.Update(buffer.data(), static_cast<std::size_t>(n));
        hold.lock();
        // A read error is left to HashRest, which says so.
        if (n <= 0)
            m_wake.wait_for(hold, kIdle);
    }
}

bool CArchiveHasher::HashRest(CReleaseSignature& signature, const CFile& file, const std::function<bool()>& stop)
{
    std::vector<char> buffer(kPiece);
    for (;;) {
        if (stop && stop())
            return false;
        const long long n = file.ReadAt(buffer.data(), buffer.size(), signature.Hashed());
        if (n < 0)
            return false;
        if (n == 0)
            return true;
        signature.Update(buffer.data(), static_cast<std::size_t>(n));
    }
}
