#include "worker/CPieceCheck.h"

#include "worker/SharedFetch.h"

#include <algorithm>
#include <atomic>

namespace {

// Cores left beside the connection that receives: enough to keep up with any link.
unsigned Checkers()
{
    const unsigned cores = std::thread::hardware_concurrency();
    return std::clamp(cores > 1 ? cores - 1 : 1u, 1u, 4u);
}

}   // namespace

CPieceCheck::CPieceCheck(SharedFetch& s, const ReleaseArchive& archive)
    : m_s(s),
      m_archive(archive),
      m_state(archive.pieces.size()),
      m_failures(archive.pieces.size()),
      m_again(archive.pieces.size())
{
    for (unsigned i = 0; i < Checkers(); ++i)
        m_threads.emplace_back([this] { Run(); });
}

CPieceCheck::~CPieceCheck()
{
    {
        std::lock_guard<std::mutex> hold(m_s.lock);
        m_stop = true;
    }
    m_wake.notify_all();
    for (std::thread& t : m_threads)
        t.join();
}

void CPieceCheck::Stream::Add(const ReleaseArchive& archive, std::uint64_t at, const char* data, std::size_t size,
                              std::vector<Hashed>& done)
{
    while (size > 0 && at < archive.size) {
        const std::size_t piece = static_cast<std::size_t>(at / archive.pieceSize);
        const std::uint64_t end = archive.PieceEnd(piece);
        const auto take = static_cast<std::size_t>(std::min<std::uint64_t>(size, end - at));
        if (at == archive.PieceBegin(piece)) {
            m_hash = CBlake2b(PieceHash().size());
            m_on = true;
            m_piece = piece;
            m_at = at;
        }
        if (m_on && m_piece == piece && m_at == at) {
            m_hash.Update(data, take);
            m_at += take;
            if (m_at == end) {
                done.push_back({piece, {}});
                m_hash.Final(done.back().hash.data());
                m_on = false;
            }
        } else {
            m_on = false;   // a piece begun elsewhere: the checkers read it back
        }
        at += take;
        data += take;
        size -= take;
    }
}

void CPieceCheck::Finished(std::uint64_t at, std::uint64_t length, const std::vector<Stream::Hashed>& hashed)
{
    if (length == 0 || m_archive.pieces.empty())
        return;
    const std::size_t first = static_cast<std::size_t>(at / m_archive.pieceSize);
    const std::size_t last =
        std::min(static_cast<std::size_t>((at + length - 1) / m_archive.pieceSize), m_archive.pieces.size() - 1);
    for (std::size_t piece = first; piece <= last; ++piece) {
        if (!m_s.plan.Covers({m_archive.PieceBegin(piece), m_archive.PieceEnd(piece)}))
            continue;
        // A piece written again (a connection that runs on over bytes another
        // fetched) is checked again: what counts is what is on disk.
        const auto own = std::find_if(hashed.begin(), hashed.end(), [&](const auto& h) { return h.piece == piece; });
        if (m_state[piece] == State::Queued)
            m_again[piece] = true;
        else if (own != hashed.end())
            Settle(piece, own->hash == m_archive.pieces[piece]);
        else
            Queue(piece);
    }
}

void CPieceCheck::QueueWhole()
{
    for (std::size_t piece = 0; piece < m_archive.pieces.size(); ++piece)
        if (m_state[piece] == State::Open && m_s.plan.Covers({m_archive.PieceBegin(piece), m_archive.PieceEnd(piece)}))
            Queue(piece);
}

void CPieceCheck::Queue(std::size_t piece)
{
    m_state[piece] = State::Queued;
    m_queue.push_back(piece);
    ++m_pending;
    m_wake.notify_one();
}

void CPieceCheck::Drain(std::unique_lock<std::mutex>& hold)
{
    m_s.helperEnded.wait(hold, [this] { return m_pending == 0; });
}

bool CPieceCheck::AllGood() const
{
    return std::all_of(m_state.begin(), m_state.end(), [](State s) { return s == State::Good; });
}

void CPieceCheck::Reset()
{
    std::fill(m_state.begin(), m_state.end(), State::Open);
    std::fill(m_failures.begin(), m_failures.end(), 0);
    std::fill(m_again.begin(), m_again.end(), false);
    m_refused = false;
}

void CPieceCheck::Run()
{
    std::vector<char> buffer;
    std::unique_lock<std::mutex> hold(m_s.lock);
    for (;;) {
        m_wake.wait(hold, [this] { return m_stop || !m_queue.empty(); });
        if (m_stop)
            return;
        const std::size_t piece = m_queue.front();
        m_queue.pop_front();
        hold.unlock();
        const bool good = Matches(m_s.file, m_archive, piece, buffer);
        hold.lock();
        if (m_again[piece]) {
            // Written again while it was read: checked once more.
            m_again[piece] = false;
            m_queue.push_back(piece);
            m_wake.notify_one();
            continue;
        }
        Settle(piece, good);
        --m_pending;
        m_s.helperEnded.notify_all();
    }
}

void CPieceCheck::Settle(std::size_t piece, bool good)
{
    const std::uint64_t begin = m_archive.PieceBegin(piece);
    const std::uint64_t end = m_archive.PieceEnd(piece);
    if (good) {
        m_state[piece] = State::Good;
        // Only checked bytes reach the unpacking.
        if (m_s.arriving)
            m_s.arriving->Arrived(begin, end);
    } else if (++m_failures[piece] >= 2) {
        // Fetched twice and wrong twice: not the publisher's archive.
        m_refused = true;
        m_s.over = true;
    } else {
        m_state[piece] = State::Open;
        if (m_s.arriving)
            m_s.arriving->Withdrawn(begin, end);
        m_s.plan.Unfinish({begin, end});
    }
}

bool CPieceCheck::Matches(const CFile& file, const ReleaseArchive& archive, std::size_t piece,
                          std::vector<char>& buffer)
{
    // A piece that cannot be read back is no good piece.
    const std::optional<PieceHash> hash = archive.HashOf(file, piece, buffer);
    return hash && *hash == archive.pieces[piece];
}

bool CPieceCheck::WholeFileMatches(const CFile& file, const ReleaseArchive& archive, const std::function<bool()>& stop,
                                   bool& stopped)
{
    stopped = false;
    if (file.RegularSize() != archive.size)
        return false;
    // The pieces are taken in turn by the caller and the checkers' number of
    // threads beside it; only the caller asks `stop`, between its pieces.
    std::atomic<std::size_t> next{0};
    std::atomic<bool> bad{false};
    std::atomic<bool> over{false};
    auto check = [&](bool caller) {
        std::vector<char> buffer;
        while (!bad && !over) {
            if (caller && stop && stop()) {
                over = true;
                break;
            }
            const std::size_t piece = next++;
            if (piece >= archive.pieces.size())
                break;
            if (!Matches(file, archive, piece, buffer))
                bad = true;
        }
    };
    std::vector<std::thread> helpers;
    for (unsigned i = 0; i < Checkers() && i + 1 < archive.pieces.size(); ++i)
        helpers.emplace_back(check, false);
    check(true);
    for (std::thread& t : helpers)
        t.join();
    stopped = over && !bad;
    return !bad && !over;
}
