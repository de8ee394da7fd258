#include "support/TestSupport.h"
#include "VornVersion.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>

using namespace std::chrono_literals;

namespace {

const fs::path kApp = "Digital Product Updates/KEL/KEL Software DVD/ZIP";

struct Result {
    int exitCode = -1;
    std::string output;
};

// Runs the terminal program with its output on a pipe (not a terminal).
// `interruptWhen`, if given, sends SIGINT once the output contains it and
// records how long the program took to end after that.
Result RunCli(const TempHome& home, long port, const std::vector<std::string>& args = {},
              const std::string& interruptWhen = {}, std::chrono::milliseconds* afterInterrupt = nullptr)
{
    int out[2];
    if (pipe(out) != 0)
        throw std::runtime_error("pipe");
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(out[1], STDOUT_FILENO);
        dup2(out[1], STDERR_FILENO);
        close(out[0]);
        setenv("HOME", home.path().c_str(), 1);
        setenv("VORN_FTP_HOST", "127.0.0.1", 1);
        setenv("VORN_FTP_PORT", std::to_string(port).c_str(), 1);
        std::vector<char*> argv{const_cast<char*>(VORN_CLI)};
        for (auto& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(VORN_CLI, argv.data());
        _exit(127);
    }
    close(out[1]);
    Result r;
    bool interrupted = false;
    auto sentAt = std::chrono::steady_clock::now();
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
            kill(pid, SIGINT);
            sentAt = std::chrono::steady_clock::now();
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
    if (afterInterrupt)
        *afterInterrupt = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - sentAt);
    r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return r;
}

// The application folder of `root` with KEL_V7.zip holding one entry.
void ReleaseWith(const fs::path& root, const std::string& entry)
{
    fs::create_directories(root / kApp);
    RunPython("import sys, zipfile\nwith zipfile.ZipFile(sys.argv[1], 'w') as z:\n    z.writestr('" + entry + "', 's')\n",
              root / kApp / "KEL_V7.zip");
}

} // namespace

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
    // Intermediate statuses may be skipped: each notice shows the newest text.
    EXPECT_NE(r.output.find("Download Complete\n"), std::string::npos);
    EXPECT_NE(r.output.find("Download folder: " + home.DownloadFolder().string() + "/\n"), std::string::npos);
    EXPECT_TRUE(fs::exists(home.DownloadFolder() / "KEL_V7/KEL_V7/Setup.exe"));
}

TEST(TerminalProgram, FailureExitsOneAndArgumentsAreChecked)
{
    TempHome home;
    TempDir root;
    FtpTestServer server(root.path(), {"--refuse-login"});
    const Result r = RunCli(home, server.port());
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.output.find("Internet Failed\n"), std::string::npos);

    const Result help = RunCli(home, server.port(), {"--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_NE(help.output.find("Exit status: 0"), std::string::npos);
    EXPECT_NE(RunCli(home, server.port(), {"--version"}).output.find(VORN_VERSION), std::string::npos);
    EXPECT_EQ(RunCli(home, server.port(), {"-h"}).output, help.output);
    const Result wrong = RunCli(home, server.port(), {"--quiet", "--bogus"});
    EXPECT_EQ(wrong.exitCode, 2);
    EXPECT_NE(wrong.output.find("unknown argument \"--bogus\""), std::string::npos) << wrong.output;
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

TEST(TerminalProgram, InterruptEndsWithinASecondAndLeavesNoPartialArchive)
{
    TempHome home;
    TempDir root;
    WriteFile(root.path() / kApp / "KEL_V12.zip", PatternBytes(8 << 20));
    FtpTestServer server(root.path(), {"--chunk", "8192", "--pause", "0.01"});
    std::chrono::milliseconds took{};
    const Result r = RunCli(home, server.port(), {}, "% Complete", &took);
    EXPECT_EQ(r.exitCode, 1) << r.output;
    EXPECT_LT(took, 1000ms);
    EXPECT_FALSE(fs::exists(home.DownloadFolder() / "KEL_V12.zip"));
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
