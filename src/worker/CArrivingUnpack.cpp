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
    m_changed.wait_for(hold, limit, [&] { return m_state != seen; });
    return m_state;
}

void CArrivingUnpack::Publish(const std::function<void(State&)>& change)
{
    {
        const std::lock_guard hold(m_lock);
        change(m_state);
    }
    m_changed.notify_all();
}

void CArrivingUnpack::Run()
{
    const End end = Unpack();
    Publish([end](State& s) { s.end = end; });
}

CArrivingUnpack::End CArrivingUnpack::Unpack()
{
    const std::shared_ptr<CArrivingBytes>& bytes = m_setup.bytes;
    // A read that failed because the download did: unpacked after it, if it completes.
    const auto interrupted = [&] { return m_setup.stop() ? End::Stopped : End::FallBack; };
    CUnzipper unzipper;
    unzipper.SetReservedName(m_setup.reserved);
    unzipper.SetStopCheck(m_setup.stop);
    // Waits for the end records and the directory, wherever they lie; an
    // archive whose end record is not where its size says is no zip here.
    if (!unzipper.OpenArchive(std::move(m_setup.archive), m_setup.archivePath, bytes))
        return interrupted();
    unzipper.SetTargetFolder(std::move(m_setup.target), m_setup.targetPath);
    const int count = unzipper.GetEntryCount();
    const std::uint64_t total = unzipper.GetTotalUncompressedSize();
    if (count == 0)
        return End::FallBack;
    Publish([&](State& s) {
        s.opened = true;
        s.count = count;
        s.total = total;
    });

    // What the directory alone tells is checked before the first entry is
    // written: methods, and room for the rest of the archive and every entry.
    std::string entryName, problem;
    if (unzipper.FindUndecodableEntry(entryName, problem, /*readHeads=*/false)) {
        Publish([&](State& s) { s.reason = entryName + ": " + problem; });
        return End::Refused;
    }
    const FreeRoom& room = m_setup.room;
    if (total > room.bytes || m_setup.missing > room.bytes - total || static_cast<std::uint64_t>(count) > room.inodes)
        return End::FallBack;   // checked again when the archive is whole, as for any archive

    // Told at most once per percent of all entries' sizes.
    const std::uint64_t step = std::max<std::uint64_t>(total / 100, 1);
    std::uint64_t before = 0;
    std::uint64_t written = 0;
    std::uint64_t nextTell = step;
    unzipper.SetProgress([&](std::uint64_t n) {
        written += n;
        if (before + written >= nextTell) {
            nextTell = before + written + step;
            Publish([&](State& s) { s.unpacked = before + written; });
        }
    });
    // Entries are taken as their bytes come, unless two of them would land
    // on one name: then the archive's order decides which one stays.
    std::optional<CArrivalOrder> order;
    if (!NamesMeet(unzipper, count)) {
        std::vector<CArrivingBytes::Range> spans(static_cast<std::size_t>(count));
        for (int i = 0; i < count; ++i)
            spans[static_cast<std::size_t>(i)] = unzipper.EntryBytes(static_cast<std::uint64_t>(i));
        order.emplace(spans, bytes->Size());
    }
    for (int done = 0; done < count; ++done) {
        if (m_setup.stop())
            return End::Stopped;
        const std::optional<std::size_t> next = order ? order->Next(*bytes) : static_cast<std::size_t>(done);
        if (!next)
            return interrupted();
        (void)unzipper.GoToEntry(*next);   // an index below the count
        ZipEntryInfo info{};
        const std::uint64_t size = unzipper.GetEntryInfo(info) ? info.uncompressedSize : 0;
        written = 0;
        // What needs the entry's own bytes is checked when they are there.
        if (unzipper.CurrentEntryUndecodable(entryName, problem)) {
            Publish([&](State& s) { s.reason = entryName.append(": ").append(problem); });
            return End::Refused;
        }
        const bool extracted = unzipper.ExtractEntry(nullptr, false, nullptr);
        if (!extracted && (bytes->Ended() || m_setup.stop()))
            return interrupted();
        // Entries that share bytes: the whole archive is judged again once it is there.
        if (!extracted && unzipper.ArchiveBroken())
            return End::FallBack;
        before += size;
        Publish([&](State& s) {
            s.done = done + 1;
            s.unpacked = before;
            s.failures += extracted ? 0 : 1;
        });
    }
    unzipper.SetProgress({});
    unzipper.CloseArchive();
    return End::Unpacked;
}
