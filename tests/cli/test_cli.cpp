#include "VornVersion.h"
#include "support/TestSupport.h"
#include "worker/FtpSettings.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

using namespace std::chrono_literals;

namespace {

const fs::path kApp = "Digital Product Updates/KEL/KEL Software DVD/ZIP";

struct Result {
    int exitCode = -1;
    std::string output;
};

// Runs the terminal program with its output on a pipe (not a terminal).
// `interruptWhen`, if given, sends `signal` once the output contains it.
// `shell`, if given, is a sh script that starts the program itself, named as "$1".
// `readAfter`, if given, leaves the output unread that long in a pipe of one
// page, so the program's printing stalls while its worker runs on.
Result RunCli(const TempHome& home, long port, const std::vector<std::string>& args = {},
              const std::string& interruptWhen = {}, int signal = SIGINT, const std::string& shell = {},
              std::chrono::milliseconds readAfter = 0ms)
{
    int out[2];
    if (pipe(out) != 0)
        throw std::runtime_error("pipe");
    if (readAfter > 0ms)
        fcntl(out[0], F_SETPIPE_SZ, 4096);
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(out[1], STDOUT_FILENO);
        dup2(out[1], STDERR_FILENO);
        close(out[0]);
        setenv("HOME", home.path().c_str(), 1);
        unsetenv("XDG_STATE_HOME");   // the state folder in the test's home
        setenv("VORN_FTP_HOST", "127.0.0.1", 1);
        setenv("VORN_FTP_PORT", std::to_string(port).c_str(), 1);
        std::vector<char*> argv{const_cast<char*>(VORN_CLI)};
        for (auto& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        if (!shell.empty())
            execl("/bin/sh", "sh", "-c", shell.c_str(), "sh", VORN_CLI, static_cast<char*>(nullptr));
        else
            execv(VORN_CLI, argv.data());
        _exit(127);
    }
    close(out[1]);
    std::this_thread::sleep_for(readAfter);
    Result r;
    bool interrupted = false;
    const auto deadline = std::chrono::steady_clock::now() + 60s;
    char buf[4096];
    for (;;) {
        pollfd p{out[0], POLLIN, 0};
        if (poll(&p, 1, 100) > 0) {
            const ssize_t n = read(out[0], buf, sizeof buf);
            if (n <= 0)
                break;
            r.output.append(buf, static_cast<std::size_t>(n));
        }
        if (!interruptWhen.empty() && !interrupted && r.output.find(interruptWhen) != std::string::npos) {
            kill(pid, signal);
            interrupted = true;
        }
        if (std::chrono::steady_clock::now() > deadline) {
            kill(pid, SIGKILL);
            break;
        }
    }
    close(out[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return r;
}

// The application folder of `root` with KEL_V7.zip holding one entry.
void ReleaseWith(const fs::path& root, const std::string& entry)
{
    WriteZip(root / kApp / "KEL_V7.zip", "    z.writestr('" + entry + "', 's')\n");
}

}   // namespace

TEST(TerminalProgram, SuccessPrintsPlainLinesAndExitsZero)
{
    TempHome home;
    TempDir root;
    ReleaseWith(root.path(), "KEL_V7/KEL_V7/Setup.exe");
    FtpTestServer server(root.path());
    const Result r = RunCli(home, server.port());
    EXPECT_EQ(r.exitCode, 0) << r.output;
    EXPECT_EQ(r.output.find('\r'), std::string::npos);
    EXPECT_EQ(r.output.find('\033'), std::string::npos);
    EXPECT_NE(r.output.find("Checking Internet\n"), std::string::npos);
    EXPECT_NE(r.output.find("Application: KEL_V7\n"), std::string::npos);
    // The final status ends the log, just before the folder.
    EXPECT_TRUE(r.output.ends_with("\nDownload Complete\nDownload folder: " + home.DownloadFolder().string() + "/\n"))
        << r.output;
    EXPECT_TRUE(fs::exists(home.DownloadFolder() / "KEL_V7/KEL_V7/Setup.exe"));
    // A build without a publisher key says so, once.
    const std::string note = "vorndownload-cli: this build has no publisher key";
    EXPECT_NE(r.output.find(note), std::string::npos) << r.output;
    EXPECT_EQ(r.output.find(note), r.output.rfind(note));
}

TEST(TerminalProgram, WithAPublisherKeyASignedReleaseCompletesAndEachRefusalSaysWhy)
{
    const std::string signedProgram = std::string("exec '") + VORN_CLI_SIGNED + "'";
    const struct {
        Forgery forgery;
        const char* reason;
    } cases[] = {
        {Forgery::None, nullptr},
        {Forgery::ByteChanged, "KEL_V12.zip - Signature Not Valid"},
        {Forgery::Unsigned, "KEL.release - Not Signed"},
        {Forgery::OtherKey, "KEL.release - Not Valid"},
        {Forgery::Renamed, "KEL.release - Not Valid"},
        {Forgery::UpdateNotListed, "KELUPD01_03.zip - Not In Release List"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.reason ? c.reason : "signed");
        TempHome home;
        TempDir root;
        SignedRelease(root.path(), VORN_TEST_KEY_DIR, c.forgery);
        FtpTestServer server(root.path());
        const Result r = RunCli(home, server.port(), {}, {}, SIGINT, signedProgram);
        EXPECT_EQ(r.output.find("releases are not verified"), std::string::npos) << r.output;
        if (!c.reason) {
            EXPECT_EQ(r.exitCode, 0) << r.output;
            EXPECT_NE(r.output.find("Download Complete\n"), std::string::npos) << r.output;
            EXPECT_TRUE(fs::exists(home.DownloadFolder() / "KEL_V12/KEL_V12/Setup.exe"));
            continue;
        }
        EXPECT_EQ(r.exitCode, 1) << r.output;
        EXPECT_NE(r.output.find("Download Failed - Try Again\n"), std::string::npos) << r.output;
        EXPECT_NE(r.output.find("vorndownload-cli: " + std::string(c.reason) + "\n"), std::string::npos) << r.output;
        EXPECT_FALSE(fs::exists(home.DownloadFolder() / "KEL_V12"));
        EXPECT_FALSE(fs::exists(home.DownloadFolder() / "KEL_V12.zip"));
    }
}

// A fast local server: statuses follow each other within microseconds, and
// the log still has them in the order posted, the update's name before the
// end and the final status last, in every run; also when the printing
// stalls on a full pipe while the worker goes on to the end of the job.
TEST(TerminalProgram, ALogKeepsTheOrderOfTheRunInEveryRun)
{
    TempHome home;
    TempDir root;
    WriteZip(root.path() / kApp / "KEL_V7.zip",
             "    for i in range(300):\n        z.writestr('KEL_V7/f%03d.txt' % i, 'f')\n");
    WriteZip(root.path() / "Digital Product Updates/KEL/KEL Update DVD/ZIP_Files/KELUPD03_05.zip",
             "    z.writestr('u.txt', 'u' * 3000)\n");
    FtpTestServer server(root.path());
    for (int run = 0; run < 8; ++run) {
        const Result r = RunCli(home, server.port(), {}, {}, SIGINT, {}, run < 2 ? 1500ms : 0ms);
        ASSERT_EQ(r.exitCode, 0) << r.output;
        const std::string end = "Download Complete\nDownload folder: " + home.DownloadFolder().string() + "/\n";
        EXPECT_TRUE(r.output.ends_with("\n" + end)) << r.output;
        EXPECT_EQ(r.output.find("Download Complete"), r.output.size() - end.size()) << r.output;
        const auto found = r.output.find("Found Update File\nUpdate: KELUPD03_05\n");
        EXPECT_NE(found, std::string::npos) << r.output;
        EXPECT_LT(r.output.find("KEL_V7.zip - 300 of 300\n"), found) << r.output;
        EXPECT_LT(found, r.output.find("KELUPD03_05.zip - 1 of 1\n")) << r.output;
    }
}

TEST(TerminalProgram, FailureExitsOneAndArgumentsAreChecked)
{
    TempHome home;
    TempDir root;
    FtpTestServer server(root.path(), {"--refuse-login"});
    const Result r = RunCli(home, server.port());
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.output.find("Internet Failed\n"), std::string::npos);
    EXPECT_NE(r.output.find("vorndownload-cli: the server refused the login\n"), std::string::npos);
    {
        // A server whose certificate nobody vouches for gets no clear-text login either.
        TempDir certs;
        MakeCertificate(certs.path(), "IP:127.0.0.1");
        FtpTestServer tls(root.path(), {"--tls-cert", (certs.path() / "server.pem").string()});
        const Result untrusted = RunCli(home, tls.port());
        EXPECT_EQ(untrusted.exitCode, 1);
        EXPECT_NE(untrusted.output.find("vorndownload-cli: the server's certificate is not trusted\n"),
                  std::string::npos)
            << untrusted.output;
    }

    const Result help = RunCli(home, server.port(), {"--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_NE(help.output.find("Exit status: 0"), std::string::npos);
    EXPECT_NE(RunCli(home, server.port(), {"--version"}).output.find(VORN_VERSION), std::string::npos);
    EXPECT_EQ(RunCli(home, server.port(), {"-h"}).output, help.output);
    const Result wrong = RunCli(home, server.port(), {"--quiet", "--bogus"});
    EXPECT_EQ(wrong.exitCode, 2);
    EXPECT_NE(wrong.output.find("unknown argument \"--bogus\""), std::string::npos) << wrong.output;
}

TEST(TerminalProgram, ABuildWithoutAPublisherHostSaysHowToNameOneAndFails)
{
    unsetenv("VORN_FTP_HOST");
    if (!GetFtpSettings().host.empty())
        GTEST_SKIP() << "this build names a publisher host";
    TempHome home;
    const Result r = RunCli(home, 21, {}, {}, SIGINT, "unset VORN_FTP_HOST; exec \"$1\"");
    EXPECT_EQ(r.exitCode, 1) << r.output;
    EXPECT_NE(r.output.find("Internet Failed\n"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("vorndownload-cli: " + std::string(kNoPublisherHost) + "\n"), std::string::npos)
        << r.output;
    EXPECT_NE(r.output.find("VORN_FTP_HOST"), std::string::npos);
}

TEST(TerminalProgram, MalformedPortIsRefusedByName)
{
    TempHome home;
    for (const char* port : {"abc", "0", "70000", "21x", "-21"}) {
        SCOPED_TRACE(port);
        FILE* pipe = popen(("VORN_FTP_PORT='" + std::string(port) + "' '" VORN_CLI "' 2>&1").c_str(), "r");
        ASSERT_NE(pipe, nullptr);
        std::string output;
        char buf[512];
        while (const std::size_t n = std::fread(buf, 1, sizeof buf, pipe))
            output.append(buf, n);
        const int status = pclose(pipe);
        EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : -1, 2);
        EXPECT_NE(output.find("VORN_FTP_PORT \"" + std::string(port) + "\""), std::string::npos) << output;
        EXPECT_FALSE(fs::exists(home.DownloadFolder()));
    }
}

// The program ends only after the worker has cleaned up, so what it leaves
// is checked the moment it has exited; no bound on how long that took.
TEST(TerminalProgram, InterruptKeepsThePartForTheNextRunAndStillEndsWithStatusAndFolder)
{
    TempHome home;
    TempDir root;
    WriteFile(root.path() / kApp / "KEL_V12.zip", PatternBytes(8 << 20));
    FtpTestServer server(root.path(), {"--chunk", "8192", "--pause", "0.01"});
    const Result r = RunCli(home, server.port(), {}, "% Complete");
    EXPECT_EQ(r.exitCode, 1) << r.output;
    EXPECT_TRUE(r.output.ends_with("Interrupted\nDownload folder: " + home.DownloadFolder().string() + "/\n"))
        << r.output;
    EXPECT_FALSE(fs::exists(home.DownloadFolder() / "KEL_V12.zip"));
    EXPECT_TRUE(fs::exists(home.DownloadFolder() / "KEL_V12.zip.part"));
    EXPECT_TRUE(fs::exists(home.DownloadFolder() / "KEL_V12.zip.part-state"));
}

TEST(TerminalProgram, ALocalWriteFailureIsNoInternetFailureAndLeavesNoPartialArchive)
{
    TempHome home;
    TempDir root;
    WriteFile(root.path() / kApp / "KEL_V12.zip", PatternBytes(4 << 20));
    FtpTestServer server(root.path());

    // A file size limit: the write fails (EFBIG), the run fails, the part goes.
    Result r = RunCli(home, server.port(), {}, {}, SIGINT, "trap '' XFSZ; ulimit -f 1024; exec \"$1\"");
    EXPECT_EQ(r.exitCode, 1) << r.output;
    EXPECT_NE(r.output.find("Download Failed - Try Again\n"), std::string::npos) << r.output;
    EXPECT_EQ(r.output.find("Internet Failed"), std::string::npos) << r.output;
    EXPECT_FALSE(fs::exists(home.DownloadFolder() / "KEL_V12.zip"));

    // A full disk: a 1 MiB file system over the Download folder, in a mount
    // namespace of the program's own; what is left there is listed after it.
    // Chroots and most containers refuse the namespace (unshare fails) or the
    // mount; either way the marker line is missing and only this half skips.
    fs::create_directories(home.DownloadFolder());
    r = RunCli(home, server.port(), {}, {}, SIGINT,
               "unshare -Urm sh -c 'mount -t tmpfs -o size=1m none \"$HOME/VORN Download\" || exit; "
               "echo tmpfs-mounted; \"$0\"; rc=$?; echo \"left:$(ls -A \"$HOME/VORN Download\")\"; exit $rc' \"$1\"");
    if (r.output.find("tmpfs-mounted\n") == std::string::npos)
        GTEST_SKIP() << "the file-size-limit check above ran; the full-disk check needs a user and mount "
                        "namespace with a tmpfs, refused here (exit "
                     << r.exitCode << "): " << r.output;
    EXPECT_EQ(r.exitCode, 1) << r.output;
    EXPECT_NE(r.output.find("KEL_V12.zip - Not Enough Disk Space\n"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("Download Failed - Try Again\n"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("left:\n"), std::string::npos) << r.output;
}

TEST(TerminalProgram, SigtermDuringUnpackingEndsAfterTheWorkerKeepsTheArchiveAndLeavesNoPartialFile)
{
    TempHome home;
    TempDir root;
    WriteZip(root.path() / kApp / "KEL_V12.zip",
             "    z.writestr('KEL_V12/dvd.bin', bytes(128 << 20), zipfile.ZIP_DEFLATED)\n"
             "    z.writestr('KEL_V12/after.txt', 'a', zipfile.ZIP_DEFLATED)\n");
    FtpTestServer server(root.path());
    const Result r = RunCli(home, server.port(), {}, "KEL_V12.zip - 1 of 2", SIGTERM);
    EXPECT_EQ(r.exitCode, 1) << r.output;
    EXPECT_TRUE(r.output.ends_with("Interrupted\nDownload folder: " + home.DownloadFolder().string() + "/\n"))
        << r.output;
    // The complete archive stays for the next run; an entry is there whole or not at all.
    const fs::path archive = home.DownloadFolder() / "KEL_V12.zip";
    EXPECT_EQ(fs::file_size(archive), fs::file_size(root.path() / kApp / "KEL_V12.zip"));
    const fs::path dvd = home.DownloadFolder() / "KEL_V12/dvd.bin";
    if (fs::exists(dvd)) {
        EXPECT_EQ(fs::file_size(dvd), 128u << 20);
    } else {
        EXPECT_FALSE(fs::exists(home.DownloadFolder() / "KEL_V12/after.txt"));
    }
    for (const auto& e : fs::recursive_directory_iterator(home.DownloadFolder()))
        EXPECT_TRUE(e.is_directory() || e.path() == dvd || e.path() == archive || e.path().filename() == "after.txt")
            << e.path();
}

TEST(TerminalProgram, QuietPrintsOnlyTheVerdictAndTheFolder)
{
    TempHome home;
    TempDir root;
    ReleaseWith(root.path(), "KEL_V7/a.txt");
    FtpTestServer server(root.path());
    const Result r = RunCli(home, server.port(), {"--quiet"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.output, "Download Complete\nDownload folder: " + home.DownloadFolder().string() + "/\n");
}
