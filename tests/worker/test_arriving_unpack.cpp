#include "support/Notices.h"
#include "unzip/CUnzipper.h"
#include "worker/CArrivingUnpack.h"
#include "worker/CKELDownloadThread.h"
#include "worker/Messages.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <fstream>
#include <utility>

using namespace std::chrono_literals;

namespace {

const fs::path kApp = "Digital Product Updates/KEL/KEL Software DVD/ZIP";
const std::string kStaging = ".VORNdownload-unpacking";
constexpr int kEntries = 400;

// Many entries of random bytes (every tenth deflated), then the installer.
void ManyEntries(const fs::path& path)
{
    fs::create_directories(path.parent_path());
    RunPython("import sys, zipfile, random\n"
              "r = random.Random(40)\n"
              "with zipfile.ZipFile(sys.argv[1], 'w') as z:\n"
              "    for i in range(" +
                  std::to_string(kEntries) +
                  "):\n"
                  "        kind = zipfile.ZIP_DEFLATED if i % 10 == 0 else zipfile.ZIP_STORED\n"
                  "        z.writestr('KEL_V12/e%03d.bin' % i, r.randbytes(16384), compress_type=kind)\n"
                  "    z.writestr('KEL_V12/KEL_V12/Setup.exe', '#!/bin/sh\\n')\n",
              path);
}

// Whether every entry of `zip` is in `folder` with its bytes.
bool Unpacked(const fs::path& zip, const fs::path& folder)
{
    TempDir out;
    RunPython("import os, sys, zipfile\n"
              "z = zipfile.ZipFile('" +
                  zip.string() + "')\nok = all(open(os.path.join('" + folder.string() +
                  "', n), 'rb').read() == z.read(n) for n in z.namelist())\n"
                  "open(sys.argv[1], 'w').write('ok' if ok else 'no')\n",
              out.path() / "verdict");
    return ReadFile(out.path() / "verdict") == "ok";
}

struct ArrivingUnpack : ::testing::Test {
    TempHome home;
    TempDir root;
    std::shared_ptr<CNotifyChannel> channel = std::make_shared<CNotifyChannel>();
    RecordingReceiver receiver{channel.get()};
    std::function<void(CKELDownloadThread&)> setUp;

    void SetUp() override
    {
        channel->Attach(&receiver);
        ManyEntries(root.path() / kApp / "KEL_V12.zip");
        // An earlier unpack of the release, which only a whole archive replaces.
        fs::create_directories(Folder() / "KEL_V12");
        WriteFile(Folder() / "KEL_V12/e000.bin", "earlier");
        WriteFile(Folder() / "KEL_V12/mine.txt", "kept");
    }
    void TearDown() override { channel->Detach(); }
    fs::path Folder() const { return home.DownloadFolder(); }
    fs::path Archive() const { return root.path() / kApp / "KEL_V12.zip"; }
    bool EarlierFiles() const
    {
        return ReadFile(Folder() / "KEL_V12/e000.bin") == "earlier" &&
               ReadFile(Folder() / "KEL_V12/mine.txt") == "kept" && !fs::exists(Folder() / "KEL_V12/e001.bin");
    }
    bool EarlierTreeUntouched() const { return EarlierFiles() && !fs::exists(Folder() / kStaging); }

    // Runs the worker over two connections, unpacking from 1 MiB on; `watch`
    // is asked with the worker, on its thread, at each notice it posts.
    std::vector<Notice> Run(const FtpTestServer& server, std::function<void(CKELDownloadThread&)> watch = {})
    {
        struct Watching : INotifyReceiver {
            RecordingReceiver& record;
            std::function<void(CKELDownloadThread&)> watch;
            CKELDownloadThread* worker = nullptr;
            Watching(RecordingReceiver& r, std::function<void(CKELDownloadThread&)> w) : record(r), watch(std::move(w))
            {}
            void PostMessage(unsigned message, std::uint64_t wParam, std::int64_t lParam) override
            {
                record.PostMessage(message, wParam, lParam);
                if (watch && worker)
                    watch(*worker);
            }
        } watching(receiver, std::move(watch));
        channel->Attach(&watching);
        EXPECT_TRUE(RunWorkerToEnd("127.0.0.1", server.port(), home, channel, [&](CKELDownloadThread& worker) {
            worker.m_timeouts = {5s, 5s};
            worker.m_connections = 2;
            worker.m_segmentMinimum = 1 << 20;
            worker.m_twoUnzippersFrom = 100;
            if (setUp)
                setUp(worker);
            watching.worker = &worker;
        }));
        channel->Attach(&receiver);
        return WithStatusWhereItMatters(receiver.Take());
    }
    // A finished entry in the staging folder while the archive is still a part.
    bool UnpackedBeforeTheLastByte() const
    {
        const fs::path first = Folder() / kStaging / "KEL_V12/e001.bin";
        std::error_code e;
        return fs::exists(Folder() / "KEL_V12.zip.part", e) && fs::file_size(first, e) == 16384;
    }
};

// Slow enough (about 1.3 MB/s a connection, 5 s for the archive) for the ramp to add the second
// connection, whose first range is the archive's end with its directory.
const std::vector<std::string> kPaced = {"--chunk", "8192", "--pause", "0.006"};

}   // namespace

// Entries are unpacked into the hidden staging folder while the archive
// arrives, and appear in the Download folder only when it is whole; the
// unpacking's notices then go on from the entries already done. A server
// that sends no range but from the start gives the same tree.
TEST_F(ArrivingUnpack, EntriesAreUnpackedWhileTheArchiveArrivesAndAppearWhenItIsWhole)
{
    for (const bool rest : {true, false}) {
        std::vector<std::string> options = kPaced;
        if (!rest)
            options.push_back("--no-rest");
        FtpTestServer server(root.path(), options);
        std::atomic<bool> seen{false}, untouched{true};
        const auto notices = Run(server, [&](CKELDownloadThread&) {
            if (!seen && UnpackedBeforeTheLastByte()) {
                seen = true;
                untouched = EarlierFiles();
            }
        });
        EXPECT_EQ(notices.back(), End(RunResult::Complete)) << rest;
        EXPECT_TRUE(seen || !rest);
        EXPECT_TRUE(untouched);
        EXPECT_TRUE(Unpacked(Archive(), Folder())) << rest;
        EXPECT_EQ(ReadFile(Folder() / "KEL_V12/mine.txt"), "kept");
        EXPECT_FALSE(fs::exists(Folder() / kStaging));
        EXPECT_FALSE(fs::exists(Folder() / "KEL_V12.zip"));

        // After the download's last percent: one bar run that never goes
        // back, and entry numbers that rise, from those done meanwhile on.
        const auto last = std::find_if(notices.rbegin(), notices.rend(),
                                       [](const Notice& n) { return n.status == "KEL_V12 - 100% Complete"; });
        ASSERT_NE(last, notices.rend());
        auto n = std::find_if(last.base(), notices.end(),
                              [](const Notice& p) { return p.message == UM_PROGRESS_BAR && p.wParam == 0; });
        std::uint64_t position = 0;
        int entry = 0, first = 0;
        for (; n != notices.end(); ++n) {
            if (n->message == UM_PROGRESS_BAR) {
                EXPECT_GE(n->wParam, position) << rest;
                position = n->wParam;
            } else if (int i = 0, count = 0;
                       std::sscanf(n->status.c_str(), "KEL_V12.zip - %d of %d", &i, &count) == 2) {
                EXPECT_GT(i, entry) << rest;
                EXPECT_EQ(count, kEntries + 1);
                entry = i;
                first = first ? first : i;
            }
        }
        EXPECT_EQ(entry, kEntries + 1);
        EXPECT_TRUE(first > 1 || !rest) << first;
        // Ready for the next round: the earlier tree again.
        fs::remove_all(Folder() / "KEL_V12");
        SetUp();
    }
}

// A stop, then a connection cut, during the download: the earlier tree
// stays as it was, the part is kept; the run after resumes it, unpacks
// from the first entry reading the kept bytes, and gives the same tree.
TEST_F(ArrivingUnpack, AStopOrACutLeavesTheEarlierTreeAndTheResumeGivesTheSameTree)
{
    {
        FtpTestServer server(root.path(), kPaced);
        std::atomic<bool> stopped{false};
        const auto notices = Run(server, [&](CKELDownloadThread& worker) {
            if (!stopped && UnpackedBeforeTheLastByte()) {
                stopped = true;
                worker.RequestStop();
            }
        });
        EXPECT_TRUE(stopped);
        // A stop also cancels the connection: the transfer may end with an error.
        EXPECT_NE(notices.back(), End(RunResult::Complete));
        EXPECT_TRUE(EarlierTreeUntouched());
        EXPECT_TRUE(fs::exists(Folder() / "KEL_V12.zip.part"));
        EXPECT_TRUE(fs::exists(Folder() / "KEL_V12.zip.part-state"));
    }
    {
        FtpTestServer server(root.path(), {"--chunk", "8192", "--pause", "0.006", "--drop-after", "1000000"});
        EXPECT_EQ(Run(server).back(), End(RunResult::InternetFailed));
        EXPECT_TRUE(EarlierTreeUntouched());
        EXPECT_TRUE(fs::exists(Folder() / "KEL_V12.zip.part"));
    }
    FtpTestServer server(root.path(), kPaced);
    const auto notices = Run(server);
    EXPECT_EQ(notices.back(), End(RunResult::Complete));
    EXPECT_TRUE(std::any_of(notices.begin(), notices.end(),
                            [](const Notice& n) { return n.status.starts_with("KEL_V12.zip - resuming at "); }));
    EXPECT_TRUE(Unpacked(Archive(), Folder()));
    EXPECT_EQ(ReadFile(Folder() / "KEL_V12/mine.txt"), "kept");
    EXPECT_FALSE(fs::exists(Folder() / kStaging));
}

// An entry whose bytes are all there is unpacked at once, while one before
// it in the archive still waits for its last byte. Entries that land on one
// name keep the archive's order: the later one stays.
TEST_F(ArrivingUnpack, EntriesAreUnpackedInTheOrderTheirBytesArrive)
{
    TempDir dir;
    const CFolder folder = CFolder::OpenPath(dir.path().string(), /*create=*/false);
    std::shared_ptr<CArrivingBytes> bytes;
    std::unique_ptr<CArrivingUnpack> unpack;
    // Unpacks `zip` into `out` with all its bytes there but the last of entry 0.
    const auto start = [&](const fs::path& zip, const std::string& out) {
        const std::string data = ReadFile(zip);
        const CArrivingBytes::Range first = CUnzipper(zip.string().c_str()).EntryBytes(0);
        WriteFile(dir.path() / (out + ".part"), data);   // readable only as told
        bytes = std::make_shared<CArrivingBytes>(data.size());
        bytes->Arrived(0, first.end - 1);
        bytes->Arrived(first.end, data.size());
        unpack = std::make_unique<CArrivingUnpack>(
            CArrivingUnpack::Setup{.archive = folder.OpenFile(out + ".part", FileOpen::Read),
                                   .bytes = bytes,
                                   .archivePath = (dir.path() / (out + ".zip")).string(),
                                   .target = folder.OpenFolder(out, /*create=*/true),
                                   .targetPath = (dir.path() / out).string(),
                                   .reserved = "",
                                   .stop = [] { return false; },
                                   .room = {},
                                   .missing = 1,
                                   .second = folder.OpenFile(out + ".part", FileOpen::Read),
                                   .secondFrom = 2});
        return first.end;
    };
    const auto until = [&](const std::function<bool(const CArrivingUnpack::State&)>& reached) {
        CArrivingUnpack::State s;
        for (int i = 0; i < 600 && !reached(s) && !s.end; ++i)
            s = unpack->Follow(s, 100ms);
        return s;
    };
    std::uint64_t held = start(Archive(), "out");
    CArrivingUnpack::State s = until([](const auto& state) { return state.done == kEntries; });
    EXPECT_EQ(s.done, kEntries);
    EXPECT_FALSE(s.end);
    std::error_code e;
    EXPECT_NE(fs::file_size(dir.path() / "out/KEL_V12/e000.bin", e), 16384u);
    EXPECT_EQ(fs::file_size(dir.path() / "out/KEL_V12/e001.bin", e), 16384u);
    bytes->Arrived(held - 1, held);
    s = until([](const auto&) { return false; });
    EXPECT_EQ(s.end, CArrivingUnpack::End::Unpacked);
    EXPECT_EQ(s.done, kEntries + 1);
    EXPECT_EQ(s.failures, 0);
    EXPECT_TRUE(Unpacked(Archive(), dir.path() / "out"));

    WriteZip(dir.path() / "twice.zip", "    z.writestr('dup.txt', 'first')\n    z.writestr('x.bin', 'x' * 100000)\n"
                                       "    z.writestr('dup.txt', 'second')\n");
    held = start(dir.path() / "twice.zip", "twice");
    std::this_thread::sleep_for(200ms);   // time to go wrong
    bytes->Arrived(held - 1, held);
    EXPECT_EQ(until([](const auto&) { return false; }).end, CArrivingUnpack::End::Unpacked);
    EXPECT_EQ(ReadFile(dir.path() / "twice/dup.txt"), "second");
}

// A Zip64 archive over 4 GiB: one stored entry of 4 GiB and 8 MiB, all
// zeros but 1 MiB at 2 GiB (a hole in a sparse file), then small entries
// whose headers lie past 4 GiB. They come first with the directory and are
// unpacked while the large one still arrives; its zeros stay holes.
TEST_F(ArrivingUnpack, ASparseZip64ArchiveOverFourGiBIsUnpackedWhileItArrives)
{
    constexpr std::uint64_t kBig = (1ull << 32) + (8u << 20);
    constexpr std::uint64_t kMarkAt = 1ull << 31;
    RunPython(R"(import struct, sys, zlib
big, mark_at = (1 << 32) + (8 << 20), 1 << 31
mark = bytes(range(256)) * 4096
zeros = memoryview(bytes(64 << 20))
def zero_crc(crc, n):
    while n:
        k = min(n, len(zeros))
        crc, n = zlib.crc32(zeros[:k], crc), n - k
    return crc
crc = zero_crc(zlib.crc32(mark, zero_crc(0, mark_at)), big - mark_at - len(mark))
f = open(sys.argv[1], "wb")
def local(name, crc, csize, usize, extra=b""):
    f.write(struct.pack("<IHHHHHIIIHH", 0x04034b50, 45, 0, 0, 0, 0x5021, crc, csize, usize, len(name), len(extra)) +
            name + extra)
local(b"KEL_V12/big.bin", crc, 0xFFFFFFFF, 0xFFFFFFFF, struct.pack("<HHQQ", 1, 16, big, big))
data = f.tell()
f.seek(data + mark_at)
f.write(mark)
f.seek(data + big)
small = [(b"KEL_V12/after/a%d.txt" % i, b"after %d " % i * 100) for i in range(3)] + [(b"KEL_V12/KEL_V12/Setup.exe", b"#!/bin/sh\n")]
places = []
for name, content in small:
    places.append(f.tell())
    local(name, zlib.crc32(content), len(content), len(content))
    f.write(content)
cd = f.tell()
def central(name, crc, csize, usize, offset, extra):
    f.write(struct.pack("<IHHHHHHIIIHHHHHII", 0x02014b50, 45, 45, 0, 0, 0, 0x5021, crc, csize, usize, len(name),
            len(extra), 0, 0, 0, 0, offset) + name + extra)
central(b"KEL_V12/big.bin", crc, 0xFFFFFFFF, 0xFFFFFFFF, 0, struct.pack("<HHQQ", 1, 16, big, big))
for (name, content), at in zip(small, places):
    central(name, zlib.crc32(content), len(content), len(content), 0xFFFFFFFF, struct.pack("<HHQ", 1, 8, at))
end = f.tell()
n = 1 + len(small)
f.write(struct.pack("<IQHHIIQQQQ", 0x06064b50, 44, 45, 45, 0, 0, n, n, end - cd, cd))
f.write(struct.pack("<IIQI", 0x07064b50, 0, end, 1))
f.write(struct.pack("<IHHHHIIH", 0x06054b50, 0, 0, 0xFFFF, 0xFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0))
)",
              Archive());
    // The part takes the archive's size; the room check counts the entry as well.
    std::error_code e;
    if (SpaceTaken(Archive()) > (1u << 30) || fs::space(Folder(), e).available < 2 * kBig + (1ull << 30))
        GTEST_SKIP() << "needs sparse files and 9 GiB free in the temporary folder";
    FtpTestServer server(root.path(), {"--sendfile"});
    std::atomic<bool> seen{false};
    const auto notices = Run(server, [&](CKELDownloadThread&) {
        std::error_code failed;
        seen = seen || (fs::exists(Folder() / "KEL_V12.zip.part", failed) &&
                        fs::file_size(Folder() / kStaging / "KEL_V12/after/a2.txt", failed) == 800);
    });
    EXPECT_EQ(notices.back(), End(RunResult::Complete));
    EXPECT_TRUE(seen);
    const fs::path big = Folder() / "KEL_V12/big.bin";
    EXPECT_EQ(fs::file_size(big, e), kBig);
    std::string mark(1u << 20, '\0'), expected(mark.size(), '\0');
    std::ifstream(big, std::ios::binary).seekg(static_cast<std::streamoff>(kMarkAt)).read(mark.data(), 1 << 20);
    for (std::size_t i = 0; i < expected.size(); ++i)
        expected[i] = static_cast<char>(i & 255);
    EXPECT_TRUE(mark == expected) << "the block at 2 GiB";
    EXPECT_LT(SpaceTaken(big), 1u << 30);
    std::string after;
    for (int i = 0; i < 100; ++i)
        after += "after 1 ";
    EXPECT_EQ(ReadFile(Folder() / "KEL_V12/after/a1.txt"), after);
    EXPECT_EQ(ReadFile(Folder() / "KEL_V12/mine.txt"), "kept");
    EXPECT_FALSE(fs::exists(Folder() / kStaging));
    EXPECT_FALSE(fs::exists(Folder() / "KEL_V12.zip"));
}

// What cannot be unpacked leaves the earlier tree as it was and no staging
// folder: no room for the rest of the archive and its entries (said as
// always), and an entry whose dictionary is too large, found when its
// bytes come (the archive is kept for a newer build, as before).
TEST_F(ArrivingUnpack, NoRoomAndATooLargeDictionaryLeaveTheEarlierTree)
{
    {
        FtpTestServer server(root.path(), kPaced);
        setUp = [](CKELDownloadThread& worker) {
            worker.m_freeSpace = [](const CFolder&) { return FreeRoom{6u << 20, 1000000}; };
        };
        const auto notices = Run(server);
        EXPECT_EQ(notices.back(), End(RunResult::Failed));
        EXPECT_TRUE(std::any_of(notices.begin(), notices.end(),
                                [](const Notice& n) { return n.status == "KEL_V12.zip - Not Enough Disk Space"; }));
        EXPECT_TRUE(EarlierTreeUntouched());
        setUp = {};
    }
    // An LZMA entry near the end claims a 1 GiB dictionary.
    RunPython("import struct, sys, zipfile\n"
              "src = sys.argv[1]\n"
              "b = bytearray(open(src, 'rb').read())\n"
              "with zipfile.ZipFile(src, 'a', compression=zipfile.ZIP_LZMA) as z:\n"
              "    z.writestr('KEL_V12/late.txt', 'late ' * 100)\n"
              "info = zipfile.ZipFile(src).getinfo('KEL_V12/late.txt')\n"
              "b = bytearray(open(src, 'rb').read())\n"
              "h = info.header_offset\n"
              "at = h + 30 + int.from_bytes(b[h + 26:h + 28], 'little') + int.from_bytes(b[h + 28:h + 30], 'little')\n"
              "b[at + 5:at + 9] = struct.pack('<I', 1 << 30)\n"
              "open(src, 'wb').write(b)\n",
              Archive());
    FtpTestServer server(root.path(), kPaced);
    const auto notices = Run(server);
    EXPECT_EQ(notices.back(), End(RunResult::Failed));
    EXPECT_TRUE(std::any_of(notices.begin(), notices.end(), [](const Notice& n) {
        return n.status == "KEL_V12.zip - KEL_V12/late.txt: Dictionary Too Large (LZMA, 1024 MiB)";
    }));
    EXPECT_TRUE(EarlierTreeUntouched());
    EXPECT_TRUE(fs::exists(Folder() / "KEL_V12.zip"));
}

// With a publisher key, only checked pieces are unpacked; a piece that stays
// wrong refuses the archive, and nothing of it is seen.
TEST_F(ArrivingUnpack, ATamperedPieceWithAKeyLeavesTheEarlierTree)
{
    TempDir keys;
    const std::string key = MakeSigningKey(keys.path());
    ListRelease(root.path(), keys.path(), {.application = "KEL_V12.zip", .update = ""});
    std::string zip = ReadFile(Archive());
    zip[zip.size() * 3 / 4] ^= 0x01;   // in an entry's data, after the list was signed
    WriteFile(Archive(), zip);
    FtpTestServer server(root.path(), kPaced);
    setUp = [&](CKELDownloadThread& worker) { worker.m_settings.releaseKey = key; };
    const auto notices = Run(server);
    EXPECT_EQ(notices.back(), End(RunResult::Failed));
    EXPECT_EQ(channel->failureReason.Get(), "KEL_V12.zip - Signature Not Valid");
    EXPECT_TRUE(EarlierTreeUntouched());
    EXPECT_FALSE(fs::exists(Folder() / "KEL_V12.zip"));
    EXPECT_FALSE(fs::exists(Folder() / "KEL_V12.zip.part"));
}
