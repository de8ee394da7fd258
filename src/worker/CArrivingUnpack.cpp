#include "worker/CArrivingUnpack.h"

#include "unzip/CUnzipper.h"
#include "worker/CArrivalOrder.h"

#include <algorithm>
#include <string_view>
#include <unordered_set>
#include <utility>
#include <vector>

namespace {

// Whether two entries would land on one path (ASCII letters in any case, as
// on Windows), or one entry's file on another's folder. Which of them stays, or
// fails, then depends on the order they are written in.
bool NamesMeet(CUnzipper& unzipper, int count)
{
    std::unordered_set<std::string> files, folders;
    for (int i = 0; i < count; ++i) {
        ZipEntryInfo info{};
        if (!unzipper.GoToEntry(static_cast<std::uint64_t>(i)) || !unzipper.GetEntryInfo(info))
            continue;   // fails on its own, whenever it is tried
        std::string path;
        std::string_view rest(info.name);
        while (!rest.empty()) {
            const std::string_view part = rest.substr(0, rest.find('/'));
            rest.remove_prefix(std::min(rest.size(), part.size() + 1));
            if (part.empty() || part == ".")
                continue;
            if (!path.empty()) {
                if (files.contains(path))
                    return true;
                folders.insert(path);
                path += '/';
            }
            for (const char c : part)
                path += c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
        }
        if (info.isFolder ? files.contains(path) : folders.contains(path) || !files.insert(path).second)
            return true;
        if (info.isFolder)
            folders.insert(path);
    }
    return false;
}

}   // namespace

CArrivingUnpack::CArrivingUnpack(Setup setup) : m_setup(std::move(setup))
{
    m_thread = std::thread([this] { Run(); });
}

CArrivingUnpack::~CArrivingUnpack()
{
    m_setup.bytes->Stop();   // a read waiting for bytes ends at once
    m_thread.join();
}

CArrivingUnpack::State CArrivingUnpack::Follow(const State& seen, std::chrono::milliseconds limit)
{
    std::unique_lock hold(m_lock);
    m_following = true;
    m_changed.wait_for(hold, limit, [&] { return m_state != seen; });
    m_following = false;
    return m_state;
}

void CArrivingUnpack::Pause(std::chrono::milliseconds pause)
{
    std::unique_lock hold(m_lock);
    m_changed.wait_for(hold, pause, [&] { return m_state.end.has_value(); });
}

void CArrivingUnpack::Publish(const std::function<void(State&)>& change)
{
    bool wake = false;
    {
        const std::lock_guard hold(m_lock);
        change(m_state);
        wake = m_following || m_state.end;
    }
    if (wake)
        m_changed.notify_all();
}

void CArrivingUnpack::Run()
{
    const End end = Unpack();
    Publish([end](State& s) { s.end = end; });
}

CArrivingUnpack::End CArrivingUnpack::Ended(End end)
{
    const std::lock_guard hold(m_lock);
    if (end != End::Unpacked && !m_over)
        m_over = end;
    return m_over.value_or(End::Unpacked);
}

std::optional<std::size_t> CArrivingUnpack::NextEntry()
{
    // One unzipper at a time: the order may wait for bytes meanwhile.
    const std::lock_guard pick(m_pick);
    if (m_order)
        return m_order->Next(*m_setup.bytes);
    if (m_next >= m_count)
        return std::nullopt;
    return m_next++;
}

void CArrivingUnpack::Prepare(CUnzipper& unzipper)
{
    unzipper.SetReservedName(m_setup.reserved);
    unzipper.SetStopCheck([this] { return m_setup.stop() || Over(); });
}

CArrivingUnpack::End CArrivingUnpack::Interrupted() const
{
    // A read that failed because the download did: unpacked after it, if it completes.
    return m_setup.stop() ? End::Stopped : End::FallBack;
}

bool CArrivingUnpack::Over()
{
    const std::lock_guard hold(m_lock);
    return m_over.has_value();
}

CArrivingUnpack::End CArrivingUnpack::Unpack()
{
    const std::shared_ptr<CArrivingBytes>& bytes = m_setup.bytes;
    CUnzipper unzipper;
    Prepare(unzipper);
    // Waits for the end records and the directory, wherever they lie; an
    // archive whose end record is not where its size says is no zip here.
    if (!unzipper.OpenArchive(std::move(m_setup.archive), m_setup.archivePath, bytes))
        return Interrupted();
    CFolder secondTarget = m_setup.second ? m_setup.target.Duplicate() : CFolder();
    unzipper.SetTargetFolder(std::move(m_setup.target), m_setup.targetPath);
    const int count = unzipper.GetEntryCount();
    const std::uint64_t total = unzipper.GetTotalUncompressedSize();
    if (count == 0 || count < m_setup.fewest)
        return End::FallBack;
    // What the directory alone tells is checked before the first entry is
    // written: methods (and what the entries' heads say, once all are here),
    // and room for the rest of the archive and every entry.
    std::string entryName, problem;
    const bool refused = unzipper.FindUndecodableEntry(entryName, problem, /*readHeads=*/bytes->Complete());
    const FreeRoom& room = m_setup.room;
    if (!refused &&
        (total > room.bytes || m_setup.missing > room.bytes - total || static_cast<std::uint64_t>(count) > room.inodes))
        return End::FallBack;   // checked again when the archive is whole, as for any archive
    Publish([&](State& s) {
        s.opened = true;
        s.count = count;
        s.total = total;
        if (refused)
            s.reason = entryName + ": " + problem;
    });
    if (refused)
        return End::Refused;

    // Entries are taken as their bytes come, unless two of them would land
    // on one name: then the archive's order decides which one stays, on one
    // unzipper.
    const bool meet = NamesMeet(unzipper, count);
    if (!meet) {
        std::vector<CArrivingBytes::Range> spans(static_cast<std::size_t>(count));
        for (int i = 0; i < count; ++i)
            spans[static_cast<std::size_t>(i)] = unzipper.EntryBytes(static_cast<std::uint64_t>(i));
        m_order.emplace(spans, bytes->Size());
    }
    m_count = static_cast<std::size_t>(count);
    // With many small entries, making the files is most of the time, and the
    // file system makes two at once nearly as fast as one.
    std::thread second;
    if (secondTarget && count >= m_setup.secondFrom && std::thread::hardware_concurrency() > 1 && !meet)
        second = std::thread([this, archive = std::move(m_setup.second), target = std::move(secondTarget)]() mutable {
            Ended(UnpackSecond(std::move(archive), std::move(target)));
        });
    const End end = Ended(UnpackShared(unzipper, 0));
    if (second.joinable())
        second.join();
    unzipper.CloseArchive();
    return Ended(end);
}

CArrivingUnpack::End CArrivingUnpack::UnpackSecond(CFile archive, CFolder target)
{
    CUnzipper unzipper;
    Prepare(unzipper);
    // The directory is there already; should this fail, the first unzipper takes every entry.
    if (!unzipper.OpenArchive(std::move(archive), m_setup.archivePath, m_setup.bytes) ||
        !unzipper.SetTargetFolder(std::move(target), m_setup.targetPath))
        return End::Unpacked;
    const End end = UnpackShared(unzipper, 1);
    unzipper.CloseArchive();
    return end;
}

CArrivingUnpack::End CArrivingUnpack::UnpackShared(CUnzipper& unzipper, int slot)
{
    const std::shared_ptr<CArrivingBytes>& bytes = m_setup.bytes;
    // Told at most once per percent of all entries' sizes.
    const std::uint64_t step = std::max<std::uint64_t>(unzipper.GetTotalUncompressedSize() / 100, 1);
    std::uint64_t written = 0;
    std::uint64_t nextTell = step;
    const auto unpacked = [&](State& s) { s.unpacked = m_finished + m_writing[0] + m_writing[1]; };
    unzipper.SetProgress([&](std::uint64_t n) {
        written += n;
        if (written >= nextTell) {
            nextTell = written + step;
            Publish([&](State& s) {
                m_writing[slot] = written;
                unpacked(s);
            });
        }
    });
    // The callback above sees this function's locals: gone with them.
    struct Unset {
        CUnzipper& u;
        ~Unset() { u.SetProgress({}); }
    } unset{unzipper};
    std::string entryName, problem;
    for (;;) {
        if (m_setup.stop())
            return End::Stopped;
        const std::optional<std::size_t> next = NextEntry();
        if (Over())
            return End::Unpacked;
        if (!next)
            return bytes->Ended() ? Interrupted() : End::Unpacked;   // every entry was given
        (void)unzipper.GoToEntry(*next);                             // an index below the count
        ZipEntryInfo info{};
        const std::uint64_t size = unzipper.GetEntryInfo(info) ? info.uncompressedSize : 0;
        written = 0;
        nextTell = step;
        // What needs the entry's own bytes is checked when they are there.
        if (unzipper.CurrentEntryUndecodable(entryName, problem)) {
            Publish([&](State& s) {
                if (!m_over)
                    s.reason = entryName.append(": ").append(problem);
            });
            return End::Refused;
        }
        const bool extracted = unzipper.ExtractEntry(nullptr, false, nullptr);
        if (!extracted && Over())
            return End::Unpacked;   // another unzipper ended the archive
        if (!extracted && (bytes->Ended() || m_setup.stop()))
            return Interrupted();
        // Entries that share bytes: the whole archive is judged again once it is there.
        if (!extracted && unzipper.ArchiveBroken())
            return End::FallBack;
        Publish([&](State& s) {
            m_finished += size;
            m_writing[slot] = 0;
            ++s.done;
            s.failures += extracted ? 0 : 1;
            unpacked(s);
        });
    }
}
