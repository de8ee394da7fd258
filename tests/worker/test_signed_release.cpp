#include "support/Notices.h"
#include "worker/CKELDownloadThread.h"
#include "worker/Messages.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace std::chrono_literals;

namespace {

const fs::path kApp = "Digital Product Updates/KEL/KEL Software DVD/ZIP";

// A stored archive of random bytes, so its pieces differ.
void BigArchive(const fs::path& path, int mib)
{
    RunPython("import sys, zipfile, random\n"
              "with zipfile.ZipFile(sys.argv[1], 'w') as z:\n"
              "    z.writestr('KEL_V13/data.bin', random.Random(13).randbytes(" +
                  std::to_string(mib) + " << 20))\n",
              path);
}

// Runs with a publisher key made by minisign for the test.
struct SignedRun : ::testing::Test {
    TempDir keys;
    std::string key = MakeSigningKey(keys.path());
    TempHome home;
    std::shared_ptr<CNotifyChannel> channel = std::make_shared<CNotifyChannel>();
    RecordingReceiver receiver{channel.get()};
    int connections = 1;

    void SetUp() override { channel->Attach(&receiver); }
    void TearDown() override { channel->Detach(); }

    std::vector<Notice> Run(const FtpTestServer& server)
    {
        EXPECT_TRUE(RunWorkerToEnd("127.0.0.1", server.port(), home, channel, [&](CKELDownloadThread& worker) {
            worker.m_settings.releaseKey = key;
            worker.m_timeouts = {5s, 5s};
            worker.m_connections = connections;
            worker.m_segmentMinimum = 1 << 20;
        }));
        return WithStatusWhereItMatters(receiver.Take());
    }
    fs::path Folder() const { return home.DownloadFolder(); }
    fs::path State() const { return home.StateFolder(); }
    std::vector<std::string> Left() const
    {
        std::vector<std::string> names;
        if (fs::exists(Folder()))
            for (const auto& e : fs::recursive_directory_iterator(Folder()))
                names.push_back(fs::relative(e.path(), Folder()).generic_string());
        std::sort(names.begin(), names.end());
        return names;
    }
};

// RETR commands for `name`, named alone or with its folder.
std::ptrdiff_t Retrieved(const std::vector<std::string>& commands, const std::string& name)
{
    return std::count_if(commands.begin(), commands.end(), [&](const std::string& c) {
        return c.starts_with("RETR ") && (c == "RETR " + name || c.ends_with("/" + name));
    });
}

bool Has(const std::vector<Notice>& notices, const std::string& status)
{
    return std::any_of(notices.begin(), notices.end(), [&](const Notice& n) { return n.status == status; });
}

}   // namespace

TEST_F(SignedRun, ASignedReleaseCompletesOverOneConnectionOrSeveral)
{
    TempDir root;
    SignedRelease(root.path(), keys.path(), Forgery::None);
    {
        FtpTestServer server(root.path());
        EXPECT_EQ(Run(server).back(), End(RunResult::Complete));
        EXPECT_TRUE(channel->applicationComplete);
        EXPECT_EQ(Retrieved(server.Commands(), "KEL.release"), 1);
        EXPECT_EQ(Retrieved(server.Commands(), "KEL.release.minisig"), 1);
    }
    EXPECT_EQ(Left(), (std::vector<std::string>{"KEL_V12", "KEL_V12/KEL_V12", "KEL_V12/KEL_V12/Setup.exe",
                                                "KEL_V12_UPDATE", "KEL_V12_UPDATE/patch.txt"}));
    // The list's serial is remembered per publisher key, and nowhere in the Download folder.
    ASSERT_TRUE(fs::is_directory(State()));
    EXPECT_EQ(std::distance(fs::directory_iterator(State()), fs::directory_iterator()), 1);

    // A large listed archive over four connections: each piece is checked
    // whichever connection brought it; the server is slow enough (about 5 s
    // for the archive) for a second connection to be tried even where a
    // loaded machine stretches the first byte, by which the ramp judges. The
    // same list again is taken too.
    fs::remove_all(Folder());
    BigArchive(root.path() / kApp / "KEL_V13.zip", 6);
    ListRelease(root.path(), keys.path(), {.application = "KEL_V13.zip", .serial = 3});
    connections = 4;
    for (int run = 0; run < 2; ++run) {
        fs::remove_all(Folder());
        FtpTestServer server(root.path(), {"--chunk", "8192", "--pause", "0.006"});
        EXPECT_EQ(Run(server).back(), End(RunResult::Complete));
        const auto commands = server.Commands();
        EXPECT_GT(Retrieved(commands, "KEL_V13.zip"), 1);
        // First the piece that holds the central directory, to the end.
        const auto rest =
            std::find_if(commands.begin(), commands.end(), [](const auto& c) { return c.starts_with("REST "); });
        ASSERT_NE(rest, commands.end());
        EXPECT_EQ(*rest, "REST " + std::to_string(6u << 20));
        EXPECT_EQ(fs::file_size(Folder() / "KEL_V13/data.bin"), 6u << 20);
    }
}

// A kept part with one damaged piece: the kept pieces are checked before
// they count, and only the damaged one is fetched again with the rest.
TEST_F(SignedRun, ADamagedPieceOfAKeptPartIsTheOnlyOneFetchedAgain)
{
    TempDir root;
    SignedRelease(root.path(), keys.path(), Forgery::None);
    BigArchive(root.path() / kApp / "KEL_V13.zip", 6);
    ListRelease(root.path(), keys.path(), {.application = "KEL_V13.zip"});
    const std::uint64_t size = fs::file_size(root.path() / kApp / "KEL_V13.zip");
    constexpr std::uint64_t kKept = 3500000;   // three whole pieces and some of the fourth
    {
        FtpTestServer server(root.path(), {"--drop-after", std::to_string(kKept)});
        EXPECT_EQ(Run(server).back(), End(RunResult::InternetFailed));
        // The piece that holds the central directory came first: the part
        // has the archive's length.
        ASSERT_EQ(fs::file_size(Folder() / "KEL_V13.zip.part"), size);
    }
    std::string part = ReadFile(Folder() / "KEL_V13.zip.part");
    part[(1 << 20) + 1000] ^= 0x01;   // in the second piece
    WriteFile(Folder() / "KEL_V13.zip.part", part);
    // Paced, so that little is in flight when a transfer is cut at a piece's end.
    FtpTestServer server(root.path(), {"--chunk", "65536", "--pause", "0.002"});
    const auto notices = Run(server);
    EXPECT_EQ(notices.back(), End(RunResult::Complete));
    EXPECT_TRUE(std::any_of(notices.begin(), notices.end(),
                            [](const Notice& n) { return n.status.starts_with("KEL_V13.zip - resuming at "); }));
    EXPECT_EQ(fs::file_size(Folder() / "KEL_V13/data.bin"), 6u << 20);
    // The rest and one piece, with what a cut transfer has in flight beyond
    // the piece's end, and the small update; never the whole archive again.
    const std::uint64_t rest = size - kKept;
    EXPECT_GE(server.SentBytes(), rest + (1 << 20));
    EXPECT_LT(server.SentBytes(), rest + (2 << 20));
}

// Each refusal ends the run before anything is downloaded (the damaged
// archive after its second fetch), says why, deletes the archive and any
// part of it, and leaves no installer to start.
TEST_F(SignedRun, EachForgeryIsRefusedWithItsReason)
{
    const struct {
        Forgery forgery;
        const char* status;
        int fetched;   // RETR of KEL_V12.zip
    } cases[] = {
        {Forgery::ByteChanged, "KEL_V12.zip - Signature Not Valid", 2},
        {Forgery::Unsigned, "KEL.release - Not Signed", 0},
        {Forgery::OtherKey, "KEL.release - Not Valid", 0},
        {Forgery::Renamed, "KEL.release - Not Valid", 0},
        {Forgery::Oversized, "KEL.release - Not Valid", 0},
        {Forgery::NewerWithheld, "KEL_V13.zip - Not On Server", 0},
        {Forgery::UpdateMissing, "KELUPD01_02.zip - Not On Server", 0},
        {Forgery::UpdateNotListed, "KELUPD01_03.zip - Not In Release List", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.status);
        TempDir root;
        SignedRelease(root.path(), keys.path(), c.forgery);
        fs::remove_all(State());
        // A part left by an earlier run goes too.
        WriteFile(Folder() / "KEL_V12.zip.part", "earlier");
        WriteFile(Folder() / "KEL_V12.zip.part-state", "earlier");
        FtpTestServer server(root.path());
        const auto notices = Run(server);
        EXPECT_EQ(notices.back(), End(RunResult::Failed));
        EXPECT_TRUE(Has(notices, c.status));
        EXPECT_EQ(channel->failureReason.Get(), c.status);
        EXPECT_FALSE(channel->applicationComplete);
        EXPECT_EQ(Retrieved(server.Commands(), "KEL_V12.zip"), c.fetched);
        EXPECT_EQ(Retrieved(server.Commands(), "KELUPD01_02.zip"), 0);
        EXPECT_FALSE(fs::exists(Folder() / "KEL_V12"));
        EXPECT_FALSE(fs::exists(Folder() / "KEL_V12.zip"));
        // A refused archive goes with its part; a part the refusal does not
        // speak of stays for a later run, which checks its pieces.
        EXPECT_EQ(fs::exists(Folder() / "KEL_V12.zip.part"), c.fetched == 0);
        fs::remove_all(Folder());
    }

    // An expired list names its date and the clock to check; nothing is remembered of it.
    TempDir root;
    SignedRelease(root.path(), keys.path(), Forgery::Expired);
    fs::remove_all(State());
    FtpTestServer server(root.path());
    Run(server);
    const std::string reason = channel->failureReason.Get();
    EXPECT_TRUE(reason.starts_with("KEL.release - Expired 20")) << reason;
    EXPECT_TRUE(reason.ends_with(" UTC, Check The Computer's Clock")) << reason;
    EXPECT_FALSE(fs::exists(State()));
}

TEST_F(SignedRun, ACompleteLocalArchiveIsCheckedPieceByPiece)
{
    TempDir root;
    SignedRelease(root.path(), keys.path(), Forgery::None);
    std::string local = ReadFile(root.path() / kApp / "KEL_V12.zip");
    local.back() ^= 0x01;
    WriteFile(Folder() / "KEL_V12.zip", local);
    FtpTestServer server(root.path());
    const auto notices = Run(server);
    EXPECT_EQ(notices.back(), End(RunResult::Failed));
    EXPECT_TRUE(Has(notices, "KEL_V12.zip - Signature Not Valid"));
    EXPECT_EQ(Retrieved(server.Commands(), "KEL_V12.zip"), 0);
    EXPECT_EQ(Left(), std::vector<std::string>{});
}

// The serial only grows: an older list after a newer one was accepted, or
// another list under the same serial, is refused; the same list again is not.
TEST_F(SignedRun, AnOlderListAfterANewerOneIsRefused)
{
    TempDir root;
    SignedRelease(root.path(), keys.path(), Forgery::None);
    const fs::path app = root.path() / kApp;
    const std::string older = ReadFile(app / "KEL.release");
    const std::string olderSignature = ReadFile(app / "KEL.release.minisig");
    ListRelease(root.path(), keys.path(), {.serial = 5});
    const auto run = [&] {
        fs::remove_all(Folder());
        FtpTestServer server(root.path());
        Run(server);
        return channel->failureReason.Get();
    };
    EXPECT_EQ(run(), "");
    EXPECT_EQ(run(), "");
    WriteFile(app / "KEL.release", older);
    WriteFile(app / "KEL.release.minisig", olderSignature);
    EXPECT_EQ(run(), "KEL.release - Older Than The Last One Accepted");
    ListRelease(root.path(), keys.path(), {.serial = 5, .validFor = 7200});
    EXPECT_EQ(run(), "KEL.release - Serial Reused");
    // Another publisher key keeps a serial of its own.
    TempDir otherKeys;
    key = MakeSigningKey(otherKeys.path());
    WriteFile(app / "KEL.release", older);
    SignFile(otherKeys.path(), app / "KEL.release");
    EXPECT_EQ(run(), "");
}

// A state folder that cannot be written lets the run go on, said once.
TEST_F(SignedRun, AStateFolderThatCannotBeWrittenIsSaidOnce)
{
    TempDir root;
    SignedRelease(root.path(), keys.path(), Forgery::None);
    fs::create_directories(fs::path(State()).parent_path().parent_path());
    WriteFile(fs::path(State()).parent_path(), "a file where the folder would be");
    FtpTestServer server(root.path());
    const auto notices = Run(server);
    EXPECT_EQ(notices.back(), End(RunResult::Complete));
    const auto said = std::count_if(notices.begin(), notices.end(), [](const Notice& n) {
        return n.status.starts_with("KEL.release - Could Not Be Remembered");
    });
    EXPECT_EQ(said, 1);
}

// An update whose bytes are not the listed ones is refused after the
// application was unpacked whole: the window must say which of the two it was.
TEST_F(SignedRun, AnUpdateRefusedAfterTheApplicationIsToldApart)
{
    TempDir root;
    SignedRelease(root.path(), keys.path(), Forgery::None);
    const fs::path update = UpdateFolder(root.path()) / "KELUPD01_02.zip";
    std::string bytes = ReadFile(update);
    bytes.back() ^= 0x01;
    WriteFile(update, bytes);
    FtpTestServer server(root.path());
    const auto notices = Run(server);
    EXPECT_EQ(notices.back(), End(RunResult::Failed));
    EXPECT_EQ(channel->failureReason.Get(), "KELUPD01_02.zip - Signature Not Valid");
    EXPECT_FALSE(channel->applicationComplete);
    EXPECT_TRUE(channel->updateRefused);   // the application itself arrived whole
    EXPECT_TRUE(fs::exists(Folder() / "KEL_V12"));
    EXPECT_FALSE(fs::exists(Folder() / "KEL_V12_UPDATE"));
}

// "KEL_V12.zip.minisig" starts with "KEL_V" and carries 12: listed first, it
// would win the tie; it is never a candidate.
TEST_F(SignedRun, ASignatureListedBeforeItsArchiveIsNotChosen)
{
    TempDir root;
    SignedRelease(root.path(), keys.path(), Forgery::None);
    fs::remove_all(root.path() / "Digital Product Updates/KEL/KEL Update DVD");
    ListRelease(root.path(), keys.path(), {.update = "", .serial = 3});
    const fs::path app = root.path() / kApp;
    WriteFile(app / "KEL_V12.zip.minisig", "not an archive");
    TempDir state;
    const auto line = [&](const char* name) {
        return "-rw-r--r--   1 owner group " + std::to_string(fs::file_size(app / name)) + " Nov 30 12:00 " + name +
               "\r\n";
    };
    WriteFile(state.path() / "listing", line("KEL_V12.zip.minisig") + line("KEL_V12.zip"));
    FtpTestServer server(root.path(), {"--raw-listing", (state.path() / "listing").string()});
    EXPECT_EQ(Run(server).back(), End(RunResult::Complete));
    EXPECT_EQ(channel->appName.Get(), "KEL_V12");
    EXPECT_TRUE(fs::exists(Folder() / "KEL_V12/KEL_V12/Setup.exe"));
}
