// The window program started where it cannot run: it must explain, not abort.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <string>

namespace {

struct Outcome {
    int exitCode = -1;
    std::string output;
};

Outcome RunShell(const std::string& command)
{
    Outcome o;
    FILE* pipe = popen((command + " 2>&1").c_str(), "r");
    if (!pipe)
        return o;
    char buf[512];
    while (const std::size_t n = std::fread(buf, 1, sizeof buf, pipe))
        o.output.append(buf, n);
    const int status = pclose(pipe);
    o.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return o;
}

}   // namespace

TEST(WindowProgram, WithoutADisplaySaysSoAndPointsToTheTerminalProgram)
{
    const std::string window = "env -u DISPLAY -u WAYLAND_DISPLAY HOME=/nonexistent ";
    for (const char* platform : {"", "xcb", "wayland", "wayland;xcb"}) {
        SCOPED_TRACE(platform);
        const Outcome o = RunShell(window + "QT_QPA_PLATFORM='" + platform + "' '" VORN_WINDOW "'");
        EXPECT_EQ(o.exitCode, 1) << o.output;
        EXPECT_NE(o.output.find("no display"), std::string::npos) << o.output;
        EXPECT_NE(o.output.find("vorndownload-cli"), std::string::npos) << o.output;
    }
    // A display that is named but not there ends the same way, not in abort().
    const Outcome gone = RunShell(window + "DISPLAY=:9876 QT_QPA_PLATFORM=xcb '" VORN_WINDOW "'");
    EXPECT_EQ(gone.exitCode, 1) << gone.output;
    EXPECT_NE(gone.output.find("vorndownload-cli"), std::string::npos) << gone.output;
}
