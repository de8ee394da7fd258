#include "platform/CFtpConnection.h"
#include "platform/CInternetException.h"
#include "support/Notices.h"
#include "worker/CKELDownloadThread.h"
#include "worker/DirectoryFirst.h"
#include "worker/Messages.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <iterator>

using namespace std::chrono_literals;

namespace {

constexpr std::uint64_t kNoPos = ~std::uint64_t{0};

// A worker that is never started: the tests call its operations directly.
struct Fixture {
    TempHome home;
    TempDir root;
    std::shared_ptr<CNotifyChannel> channel = std::make_shared<CNotifyChannel>();
    RecordingReceiver receiver{channel.get()};
    std::unique_ptr<CKELDownloadThread> worker = std::make_unique<CKELDownloadThread>();

    Fixture()
    {
        channel->Attach(&receiver);
        worker->Wire(channel);
        worker->m_downloadFolder = home.Folder();
    }
    std::unique_ptr<CFtpConnection> Connect(const FtpTestServer& server, FtpTimeouts t = {},
                                            std::function<bool()> cancel = {})
    {
        return std::make_unique<CFtpConnection>("127.0.0.1", server.port(), "vornpublic", "Public12345", true, t,
                                                std::move(cancel));
    }
    fs::path Local(const std::string& name) const { return home.DownloadFolder() / name; }
    std::vector<Notice> Notices() { return WithStatusWhereItMatters(receiver.Take()); }
};

int Count(const std::vector<std::string>& lines, const std::string& prefix)
{
    int n = 0;
    for (const auto& l : lines)
        n += l.rfind(prefix, 0) == 0;
    return n;
}

}   // namespace

TEST(DownloadFile, ThreeFullChunksAndARemainderPostTheExactSequence)
{
    Fixture f;
    const std::uint32_t size = 3 * 65536 + 1000;
    const std::string data = PatternBytes(size);
    WriteFile(f.root.path() / "KEL_V12 Full.zip", data);
    FtpTestServer server(f.root.path());
    auto c = f.Connect(server);

    // The Download folder does not exist yet: the download makes it.
    ASSERT_FALSE(fs::exists(f.home.DownloadFolder()));
    EXPECT_TRUE(f.worker->DownloadFile(*c, "KEL_V12 Full.zip", size));
    EXPECT_EQ(ReadFile(f.Local("KEL_V12 Full.zip")), data);
    const std::int32_t s = static_cast<std::int32_t>(size);
    EXPECT_EQ(f.Notices(), (std::vector<Notice>{
                               P(0, s),
                               P(65536, s),
                               S("KEL_V12 Full - 33% Complete"),
                               P(131072, s),
                               S("KEL_V12 Full - 66% Complete"),
                               P(196608, s),
                               S("KEL_V12 Full - 99% Complete"),
                               P(size, s),
                               S("KEL_V12 Full - 100% Complete"),
                               P(size, s),
                           }));
}

TEST(DownloadFile, CompleteLocalCopyIsKeptAndAnyOtherSizeIsFetchedAgain)
{
    Fixture f;
    const std::string data = PatternBytes(100000);
    WriteFile(f.root.path() / "a.zip", data);
    FtpTestServer server(f.root.path());
    auto c = f.Connect(server);

    // Same size, other content: taken as complete, nothing opened or posted.
    WriteFile(f.Local("a.zip"), std::string(100000, 'L'));
    EXPECT_TRUE(f.worker->DownloadFile(*c, "a.zip", 100000));
    EXPECT_EQ(ReadFile(f.Local("a.zip")), std::string(100000, 'L'));
    EXPECT_TRUE(f.Notices().empty());
    EXPECT_EQ(Count(server.Commands(), "RETR"), 0);

    // A longer partial file from an earlier run: truncated, fetched from byte 0.
    WriteFile(f.Local("a.zip"), std::string(150000, 'P'));
    EXPECT_TRUE(f.worker->DownloadFile(*c, "a.zip", 100000));
    EXPECT_EQ(ReadFile(f.Local("a.zip")), data);
    EXPECT_EQ(Count(server.Commands(), "RETR"), 1);
    EXPECT_EQ(Count(server.Commands(), "REST"), 0);   // never a resume
}

TEST(DownloadFile, ShortReadsFromTheServerDoNotEndTheLoop)
{
    Fixture f;
    const std::string data = PatternBytes(200000);
    WriteFile(f.root.path() / "slow.zip", data);
    FtpTestServer server(f.root.path(), {"--chunk", "1000", "--pause", "0.0005"});
    auto c = f.Connect(server);
    EXPECT_TRUE(f.worker->DownloadFile(*c, "slow.zip", data.size()));
    EXPECT_EQ(ReadFile(f.Local("slow.zip")), data);
    EXPECT_EQ(f.Notices().back(), P(200000, 200000));
}

TEST(DownloadFile, ServerFileOfAnotherSizeThanListed)
{
    Fixture f;
    const std::string data = PatternBytes(300000);
    WriteFile(f.root.path() / "long.zip", data);
    FtpTestServer server(f.root.path());
    auto c = f.Connect(server);

    // Longer than listed, below one chunk and above: always cut at the listed size,
    // no position ever beyond the range, no percentage above 100.
    for (std::uint32_t listed : {1000u, 65535u, 65536u, 70000u}) {
        EXPECT_TRUE(f.worker->DownloadFile(*c, "long.zip", listed));
        EXPECT_EQ(ReadFile(f.Local("long.zip")), data.substr(0, listed)) << listed;
        for (const auto& n : f.Notices()) {
            if (n.message == UM_PROGRESS_BAR)
                EXPECT_LE(n.wParam, listed);
            else
                EXPECT_EQ(n.status.find("101%"), std::string::npos);
        }
    }
    // Shorter than listed: ends at the server's end of file; the last notice carries
    // the listed size.
    EXPECT_TRUE(f.worker->DownloadFile(*c, "long.zip", 400000));
    EXPECT_EQ(ReadFile(f.Local("long.zip")), data);
    EXPECT_EQ(f.Notices().back(), P(400000, 400000));
}

TEST(DownloadFile, RemoteFileThatCannotBeOpenedLeavesAnEmptyPart)
{
    Fixture f;
    FtpTestServer server(f.root.path());
    auto c = f.Connect(server);
    EXPECT_FALSE(f.worker->DownloadFile(*c, "missing.zip", 5000));
    EXPECT_EQ(f.Notices(), (std::vector<Notice>{P(0, 5000), P(kNoPos, -1)}));
    ASSERT_TRUE(fs::exists(f.Local("missing.zip.part")));
    EXPECT_EQ(fs::file_size(f.Local("missing.zip.part")), 0u);
    EXPECT_FALSE(fs::exists(f.Local("missing.zip")));
}

TEST(DownloadFile, NamesThatLeaveTheDownloadFolderAreRefused)
{
    Fixture f;
    WriteFile(f.root.path() / "x.zip", "x");
    FtpTestServer server(f.root.path());
    auto c = f.Connect(server);
    for (const char* name : {"", ".", "..", "../x.zip", "sub/x.zip", "/x.zip"})
        EXPECT_FALSE(f.worker->DownloadFile(*c, name, 1)) << name;
    EXPECT_TRUE(f.Notices().empty());
    EXPECT_FALSE(fs::exists(f.home.path() / "x.zip"));
    EXPECT_EQ(Count(server.Commands(), "RETR"), 0);
}

TEST(DownloadFile, LocalFileThatCannotBeCreatedPostsNothing)
{
    Fixture f;
    WriteFile(f.root.path() / "x.zip", "x");
    FtpTestServer server(f.root.path());
    auto c = f.Connect(server);
    fs::create_directories(f.Local("x.zip"));   // a folder stands where the file would go
    EXPECT_FALSE(f.worker->DownloadFile(*c, "x.zip", 1));
    // A link at the local path is not followed.
    fs::remove(f.Local("x.zip"));
    WriteFile(f.home.path() / "outside", "keep");
    if (!CanMakeLinks())
        GTEST_SKIP() << "no symbolic links can be made here";
    fs::create_symlink(f.home.path() / "outside", f.Local("x.zip"));
    EXPECT_FALSE(f.worker->DownloadFile(*c, "x.zip", 1));
    EXPECT_EQ(ReadFile(f.home.path() / "outside"), "keep");
    EXPECT_TRUE(f.Notices().empty());
}

TEST(DownloadFile, BrokenOrStalledConnectionSurfacesAsAnErrorAndTheNextCallResumes)
{
    Fixture f;
    const std::string data = PatternBytes(1 << 20);
    WriteFile(f.root.path() / "a.zip", data);
    std::uintmax_t kept = 0;
    {
        FtpTestServer server(f.root.path(), {"--drop-after", "300000"});
        auto c = f.Connect(server);
        EXPECT_THROW(f.worker->DownloadFile(*c, "a.zip", data.size()), CInternetException);
        // The part and its record stay; the archive's own name is not taken.
        kept = fs::file_size(f.Local("a.zip.part"));
        EXPECT_GT(kept, 0u);
        EXPECT_LT(kept, data.size());
        EXPECT_TRUE(fs::exists(f.Local("a.zip.part-state")));
        EXPECT_FALSE(fs::exists(f.Local("a.zip")));
    }
    {
        // Only the rest is fetched, from the part's length; the result is whole.
        FtpTestServer server(f.root.path());
        auto c = f.Connect(server);
        f.Notices();
        EXPECT_TRUE(f.worker->DownloadFile(*c, "a.zip", data.size()));
        EXPECT_EQ(ReadFile(f.Local("a.zip")), data);
        const auto commands = server.Commands();
        EXPECT_NE(std::find(commands.begin(), commands.end(), "REST " + std::to_string(kept)), commands.end());
        EXPECT_EQ(Count(commands, "RETR"), 1);
        EXPECT_FALSE(fs::exists(f.Local("a.zip.part")));
        EXPECT_FALSE(fs::exists(f.Local("a.zip.part-state")));
        char resuming[64];
        std::snprintf(resuming, sizeof resuming, "a.zip - resuming at %.0f%%",
                      static_cast<double>(kept) * 100.0 / static_cast<double>(data.size()));
        const auto notices = f.Notices();
        ASSERT_GE(notices.size(), 3u);
        EXPECT_EQ(notices[0], P(0, data.size()));   // the bar starts as for any download
        EXPECT_EQ(notices[1], P(kept, data.size()));
        EXPECT_EQ(notices[2], S(resuming));
        EXPECT_EQ(notices.back(), P(data.size(), data.size()));
    }
    fs::remove(f.Local("a.zip"));
    FtpTestServer server(f.root.path(), {"--stall-after", "300000"});
    auto c = f.Connect(server, {5s, 1s});
    const auto start = std::chrono::steady_clock::now();
    EXPECT_THROW(f.worker->DownloadFile(*c, "a.zip", data.size()), CInternetException);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 20s);
}

// A part is resumed only when its record matches the server's file; any
// doubt fetches it from its first byte.
TEST(DownloadFile, APartIsFetchedAgainWhenItsRecordOrTheServerDoesNotAllowResuming)
{
    Fixture f;
    const std::string data = PatternBytes(500000);
    const fs::path remote = f.root.path() / "a.zip";
    WriteFile(remote, data);
    auto leavePart = [&](std::uint64_t size, std::int64_t time) {
        fs::create_directories(f.home.DownloadFolder());
        WriteFile(f.Local("a.zip.part"), std::string(200000, 'P'));
        WriteFile(f.Local("a.zip.part-state"), "VORN part-state 1\nsize " + std::to_string(size) + "\ntime " +
                                                   std::to_string(time) + "\nrange 0 200000\n");
    };
    const auto mtime = [&] {
        struct stat st {};
        stat(remote.string().c_str(), &st);
        return static_cast<std::int64_t>(st.st_mtime);
    }();
    struct Case {
        const char* what;
        std::uint64_t size;
        std::int64_t time;
        std::vector<std::string> options;
        int rests;
    };
    for (const Case& k :
         {Case{"size changed", 400000, mtime, {}, 0},
          Case{"time changed", data.size(), mtime - 3600, {}, 1},   // REST sent, then given up
          Case{"no REST", data.size(), mtime, {"--no-rest"}, 1}, Case{"not a record", data.size(), -1, {}, 0}}) {
        leavePart(k.size, k.time);
        FtpTestServer server(f.root.path(), k.options);
        auto c = f.Connect(server);
        EXPECT_TRUE(f.worker->DownloadFile(*c, "a.zip", data.size())) << k.what;
        EXPECT_EQ(ReadFile(f.Local("a.zip")), data) << k.what;
        EXPECT_EQ(Count(server.Commands(), "REST"), k.rests) << k.what;
        fs::remove(f.Local("a.zip"));
    }
    // The same part with a matching record is resumed.
    leavePart(data.size(), mtime);
    FtpTestServer server(f.root.path());
    auto c = f.Connect(server);
    EXPECT_TRUE(f.worker->DownloadFile(*c, "a.zip", data.size()));
    EXPECT_EQ(ReadFile(f.Local("a.zip")), std::string(200000, 'P') + data.substr(200000));
}

namespace {

// Sets the worker's stop flag once a given number of progress notices arrived.
class StoppingReceiver : public INotifyReceiver {
public:
    StoppingReceiver(CKELDownloadThread& w, int after) : m_worker(w), m_after(after) {}
    void PostMessage(unsigned message, std::uint64_t, std::int64_t) override
    {
        if (message == UM_PROGRESS_BAR && ++m_seen == m_after)
            m_worker.RequestStop();
    }

private:
    CKELDownloadThread& m_worker;
    int m_after;
    int m_seen = 0;
};

}   // namespace

TEST(DownloadFile, StopFlagEndsTheDownloadAndKeepsThePartAndItsRecord)
{
    Fixture f;
    const std::string data = PatternBytes(1 << 20);
    WriteFile(f.root.path() / "a.zip", data);
    auto onlyPartAndRecord = [&] {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(f.home.DownloadFolder()))
            names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names == std::vector<std::string>{"a.zip.part", "a.zip.part-state"};
    };
    FtpTestServer server(f.root.path());
    StoppingReceiver stopper(*f.worker, 3);
    f.channel->Attach(&stopper);
    {
        auto c = f.Connect(server);
        EXPECT_FALSE(f.worker->DownloadFile(*c, "a.zip", data.size()));
        EXPECT_TRUE(onlyPartAndRecord());
    }
    // With the connection cancelled by the same flag the transfer may end
    // with an error instead; what is left is the same.
    auto worker = std::make_unique<CKELDownloadThread>();
    worker->Wire(f.channel);
    worker->m_downloadFolder = f.home.Folder();
    fs::remove(f.Local("a.zip.part-state"));
    StoppingReceiver stopper2(*worker, 3);
    f.channel->Attach(&stopper2);
    FtpTestServer slow(f.root.path(), {"--chunk", "4096", "--pause", "0.002"});
    auto c = f.Connect(slow, {}, [&] { return worker->StopRequested(); });
    try {
        EXPECT_FALSE(worker->DownloadFile(*c, "a.zip", data.size()));
    } catch (const CInternetException&) {
    }
    EXPECT_TRUE(onlyPartAndRecord());
    EXPECT_GT(fs::file_size(f.Local("a.zip.part")), 0u);
}

// Large archives: extra connections with the same account, each with a range
// of its own; a server that allows fewer changes nothing but the speed.
TEST(DownloadFile, LargeArchivesAreFetchedInSegmentsOverAsManyConnectionsAsTheServerAllows)
{
    Fixture f;
    const std::string data = PatternBytes(16 << 20);
    WriteFile(f.root.path() / "big.zip", data);
    f.worker->m_connections = 4;
    f.worker->m_segmentMinimum = 4 << 20;
    f.worker->m_settings.host = "127.0.0.1";
    // Slow enough for the extra connections to log in meanwhile.
    const std::vector<std::string> slow = {"--chunk", "8192", "--pause", "0.0005"};
    for (const char* limit : {"0", "1"}) {
        std::vector<std::string> options = slow;
        options.insert(options.end(), {"--max-connections", limit});
        FtpTestServer server(f.root.path(), options);
        f.worker->m_settings.port = server.port();
        auto c = f.Connect(server);
        EXPECT_TRUE(f.worker->DownloadFile(*c, "big.zip", data.size())) << limit;
        EXPECT_EQ(ReadFile(f.Local("big.zip")) == data, true) << limit;
        const auto commands = server.Commands();
        if (std::string(limit) == "0") {
            EXPECT_GT(Count(commands, "RETR"), 1);
            EXPECT_GT(Count(commands, "REST"), 0);
        } else {
            EXPECT_EQ(Count(commands, "RETR"), 2);   // the tail, then the rest
        }
        // Progress as from one connection: rising, at most one per 64 KiB, ending at the size.
        const auto notices = f.Notices();
        std::uint64_t last = 0;
        int positions = 0;
        for (const auto& n : notices)
            if (n.message == UM_PROGRESS_BAR && n.wParam != last) {
                EXPECT_GT(n.wParam, last);
                last = n.wParam;
                ++positions;
            }
        EXPECT_EQ(last, data.size());
        EXPECT_LE(positions, static_cast<int>(data.size() / 65536));
        fs::remove(f.Local("big.zip"));
        f.worker->TakeArchive("none");   // lets the file go
    }

    // A stop while all connections run leaves the part and its record, nothing else.
    FtpTestServer server(f.root.path(), slow);
    f.worker->m_settings.port = server.port();
    StoppingReceiver stopper(*f.worker, 40);
    f.channel->Attach(&stopper);
    auto c = f.Connect(server);
    EXPECT_FALSE(f.worker->DownloadFile(*c, "big.zip", data.size()));
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(f.home.DownloadFolder()))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"big.zip.part", "big.zip.part-state"}));
}

// An archive of the segmenting size or more: its tail comes first, then its
// central directory where the end record says it begins, then the rest, whose
// transfer runs on over the tail, so one connection logs in once; a server
// without REST sends the whole file in one transfer from its first byte.
TEST(DownloadFile, ALargeArchiveFetchesItsCentralDirectoryFirst)
{
    Fixture f;
    constexpr std::uint32_t kSize = 6 << 20, kDirectory = 3 << 20, kEndRecord = 22;
    std::string data = PatternBytes(kSize - kEndRecord);
    data += std::string("PK\5\6") + std::string(8, '\0');
    for (const std::uint32_t v : {kSize - kEndRecord - kDirectory, kDirectory})
        for (int i = 0; i < 4; ++i)
            data += static_cast<char>((v >> (8 * i)) & 0xFF);
    data += std::string(2, '\0');
    WriteFile(f.root.path() / "big.zip", data);
    f.worker->m_segmentMinimum = 1 << 20;
    f.worker->m_settings.host = "127.0.0.1";
    const std::string tail = "REST " + std::to_string(kSize - kDirectoryTail);
    const std::string directory = "REST " + std::to_string(kDirectory);
    const struct {
        int connections;
        bool rest;
        std::vector<std::string> rests;   // over one connection, all of them
    } cases[] = {{1, true, {tail, directory}}, {4, true, {tail, directory}}, {4, false, {tail}}};
    for (const auto& k : cases) {
        FtpTestServer server(f.root.path(),
                             k.rest ? std::vector<std::string>{} : std::vector<std::string>{"--no-rest"});
        f.worker->m_connections = k.connections;
        f.worker->m_settings.port = server.port();
        auto c = f.Connect(server);
        EXPECT_TRUE(f.worker->DownloadFile(*c, "big.zip", data.size())) << k.connections << k.rest;
        EXPECT_TRUE(ReadFile(f.Local("big.zip")) == data) << k.connections << k.rest;
        const auto commands = server.Commands();
        std::vector<std::string> rests;
        std::copy_if(commands.begin(), commands.end(), std::back_inserter(rests),
                     [](const std::string& line) { return line.starts_with("REST "); });
        ASSERT_GE(rests.size(), k.rests.size());
        if (k.connections == 1) {
            EXPECT_EQ(rests, k.rests);
            EXPECT_EQ(Count(commands, "USER"), 1);
            EXPECT_EQ(Count(commands, "RETR"), 3);
        }
        EXPECT_EQ(rests[0], tail) << k.connections << k.rest;
        if (k.rest) {
            EXPECT_NE(std::find(rests.begin(), rests.end(), directory), rests.end()) << k.connections;
        }
        if (!k.rest) {
            EXPECT_EQ(Count(commands, "RETR"), 1);
        }
        fs::remove(f.Local("big.zip"));
        f.worker->TakeArchive("none");   // lets the file go
    }
}
