#include "support/Notices.h"
#include "worker/CKELDownloadThread.h"
#include "worker/Messages.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace std::chrono_literals;

namespace {

const fs::path kApp = "Digital Product Updates/KEL/KEL Software DVD/ZIP";

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
        for (const char* signature : {"KEL_V12.zip.minisig", "KELUPD01_02.zip.minisig"})
            EXPECT_EQ(Retrieved(server.Commands(), signature), 1) << signature;
    }
    EXPECT_EQ(Left(), (std::vector<std::string>{"KEL_V12", "KEL_V12/KEL_V12", "KEL_V12/KEL_V12/Setup.exe",
                                                "KEL_V12_UPDATE", "KEL_V12_UPDATE/patch.txt"}));

    // A large signed archive over four connections; the hash follows the
    // ranges as they reach the disk, whichever connection brought them; the
    // server is slow enough for a second connection to be tried.
    fs::remove_all(Folder());
    const fs::path big = root.path() / kApp / "KEL_V13.zip";
    RunPython("import sys, zipfile, random\n"
              "with zipfile.ZipFile(sys.argv[1], 'w') as z:\n"
              "    z.writestr('KEL_V13/data.bin', random.Random(13).randbytes(6 << 20))\n",
              big);
    SignFile(keys.path(), big);
    connections = 4;
    FtpTestServer server(root.path(), {"--chunk", "8192", "--pause", "0.002"});
    EXPECT_EQ(Run(server).back(), End(RunResult::Complete));
    EXPECT_GT(Retrieved(server.Commands(), "KEL_V13.zip"), 1);
    EXPECT_EQ(fs::file_size(Folder() / "KEL_V13/data.bin"), 6u << 20);
}

TEST_F(SignedRun, ABrokenDownloadResumesAndTheWholeArchiveIsStillChecked)
{
    TempDir root;
    SignedRelease(root.path(), keys.path(), Forgery::None);
    const fs::path big = root.path() / kApp / "KEL_V13.zip";
    RunPython("import sys, zipfile, random\n"
              "with zipfile.ZipFile(sys.argv[1], 'w') as z:\n"
              "    z.writestr('KEL_V13/data.bin', random.Random(13).randbytes(3 << 20))\n",
              big);
    SignFile(keys.path(), big);
    {
        FtpTestServer server(root.path(), {"--drop-after", "1500000"});
        EXPECT_EQ(Run(server).back(), End(RunResult::InternetFailed));
        ASSERT_TRUE(fs::exists(Folder() / "KEL_V13.zip.part"));
    }
    FtpTestServer server(root.path());
    const auto notices = Run(server);
    EXPECT_EQ(notices.back(), End(RunResult::Complete));
    EXPECT_TRUE(std::any_of(notices.begin(), notices.end(),
                            [](const Notice& n) { return n.status.starts_with("KEL_V13.zip - resuming at "); }));
    EXPECT_EQ(fs::file_size(Folder() / "KEL_V13/data.bin"), 3u << 20);

    // A part whose kept bytes were changed on disk resumes, and fails the check.
    fs::remove_all(Folder());
    {
        FtpTestServer dropping(root.path(), {"--drop-after", "1500000"});
        Run(dropping);
    }
    std::string part = ReadFile(Folder() / "KEL_V13.zip.part");
    part[1000] ^= 0x01;
    WriteFile(Folder() / "KEL_V13.zip.part", part);
    FtpTestServer again(root.path());
    const auto refused = Run(again);
    EXPECT_EQ(refused.back(), End(RunResult::Failed));
    EXPECT_TRUE(Has(refused, "KEL_V13.zip - Signature Not Valid"));
    EXPECT_EQ(Left(), std::vector<std::string>{});
}

// Each forgery: nothing of it unpacked, the archive and its part gone, the
// run failed with the reason, no installer to start.
TEST_F(SignedRun, ForgedUnsignedAndRenamedArchivesAreRefusedAndDeleted)
{
    const struct {
        Forgery forgery;
        const char* status;
    } cases[] = {
        {Forgery::ByteChanged, "KEL_V12.zip - Signature Not Valid"},
        {Forgery::Unsigned, "KEL_V12.zip - Not Signed"},
        {Forgery::OtherKey, "KEL_V12.zip - Signature Not Valid"},
        {Forgery::Renamed, "KEL_V12.zip - Signature Not Valid"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.status);
        TempDir root;
        SignedRelease(root.path(), keys.path(), c.forgery);
        // A part left by an earlier run goes too.
        WriteFile(Folder() / "KEL_V12.zip.part", "earlier");
        WriteFile(Folder() / "KEL_V12.zip.part-state", "earlier");
        FtpTestServer server(root.path());
        const auto notices = Run(server);
        EXPECT_EQ(notices.back(), End(RunResult::Failed));
        EXPECT_TRUE(Has(notices, c.status));
        EXPECT_EQ(channel->failureReason.Get(), c.status);
        EXPECT_FALSE(channel->applicationComplete);
        EXPECT_EQ(Left(), std::vector<std::string>{});
        // The update is not even looked at.
        for (const auto& command : server.Commands())
            EXPECT_EQ(command.find("KELUPD"), std::string::npos) << command;
        // Refused by its signature alone: no byte of the archive is fetched.
        EXPECT_EQ(Retrieved(server.Commands(), "KEL_V12.zip"), c.forgery == Forgery::ByteChanged ? 1 : 0);
    }

    // A complete archive already in the Download folder is checked before it is unpacked.
    TempDir root;
    SignedRelease(root.path(), keys.path(), Forgery::None);
    std::string local = ReadFile(root.path() / kApp / "KEL_V12.zip");
    local.back() ^= 0x01;
    WriteFile(Folder() / "KEL_V12.zip", local);
    FtpTestServer server(root.path());
    const auto notices = Run(server);
    EXPECT_EQ(notices.back(), End(RunResult::Failed));
    EXPECT_TRUE(Has(notices, "KEL_V12.zip - Signature Not Valid"));
    EXPECT_EQ(Left(), std::vector<std::string>{});
}

TEST_F(SignedRun, AnUnsignedUpdateFailsTheRunAndLeavesNoInstallerToStart)
{
    TempDir root;
    SignedRelease(root.path(), keys.path(), Forgery::None);
    fs::remove(root.path() / "Digital Product Updates/KEL/KEL Update DVD/ZIP_Files/KELUPD01_02.zip.minisig");
    FtpTestServer server(root.path());
    const auto notices = Run(server);
    EXPECT_EQ(notices.back(), End(RunResult::Failed));
    EXPECT_EQ(channel->failureReason.Get(), "KELUPD01_02.zip - Not Signed");
    EXPECT_FALSE(channel->applicationComplete);
    EXPECT_TRUE(channel->updateRefused);   // the application itself arrived whole
    EXPECT_FALSE(fs::exists(Folder() / "KEL_V12_UPDATE"));
}

// "KEL_V12.zip.minisig" starts with "KEL_V" and carries 12: listed first, it
// would win the tie; it is never a candidate.
TEST_F(SignedRun, ASignatureListedBeforeItsArchiveIsNotChosen)
{
    TempDir root;
    SignedRelease(root.path(), keys.path(), Forgery::None);
    fs::remove_all(root.path() / "Digital Product Updates/KEL/KEL Update DVD");
    const fs::path app = root.path() / kApp;
    TempDir state;
    WriteFile(state.path() / "listing",
              "-rw-r--r--   1 owner group " + std::to_string(fs::file_size(app / "KEL_V12.zip.minisig")) +
                  " Nov 30 12:00 KEL_V12.zip.minisig\r\n"
                  "-rw-r--r--   1 owner group " +
                  std::to_string(fs::file_size(app / "KEL_V12.zip")) + " Nov 30 12:00 KEL_V12.zip\r\n");
    FtpTestServer server(root.path(), {"--raw-listing", (state.path() / "listing").string()});
    EXPECT_EQ(Run(server).back(), End(RunResult::Complete));
    EXPECT_EQ(channel->appName.Get(), "KEL_V12");
    EXPECT_TRUE(fs::exists(Folder() / "KEL_V12/KEL_V12/Setup.exe"));
}
