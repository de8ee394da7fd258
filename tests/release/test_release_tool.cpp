#include "support/TestSupport.h"
#include "worker/CReleaseList.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>

namespace {

struct Tool {
    int exitCode;
    std::string output;
};

// vorn-release with `args`, in `dir`, its output and errors together.
Tool RunTool(const fs::path& dir, const std::string& args)
{
    const std::string cmd = "cd '" + dir.string() + "' && '" VORN_RELEASE_TOOL "' " + args + " 2>&1";
    Tool t{-1, {}};
    if (std::FILE* p = popen(cmd.c_str(), "r")) {
        char buffer[4096];
        for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, p)) > 0;)
            t.output.append(buffer, n);
        const int status = pclose(p);
        t.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    return t;
}

}   // namespace

// The publisher's round: write the list, sign it with stock minisign, check it.
TEST(ReleaseTool, WritesAListMinisignSignsAndTheSerialOnlyGrows)
{
    TempDir dir;
    WriteZip(dir.path() / "KEL_V12.zip", "    z.writestr('KEL_V12/KEL_V12/Setup.exe', 'x' * 3000000)\n");
    WriteZip(dir.path() / "KELUPD01_24.zip", "    z.writestr('patch.txt', 'p')\n");
    const Tool written = RunTool(dir.path(), "--application KEL_V12.zip --update KELUPD01_24.zip -o KEL.release");
    ASSERT_EQ(written.exitCode, 0) << written.output;
    const std::optional<CReleaseList> list = CReleaseList::Parse(ReadFile(dir.path() / "KEL.release"));
    ASSERT_TRUE(list);
    EXPECT_EQ(list->application.name, "KEL_V12.zip");
    EXPECT_EQ(list->application.pieces.size(), 3u);
    EXPECT_EQ(list->update->name, "KELUPD01_24.zip");
    // The serial is the UTC time as digits; the list is valid for 90 days.
    const std::int64_t now =
        std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count();
    EXPECT_EQ(std::to_string(list->serial).size(), 14u);
    EXPECT_TRUE(UtcTimeText(now).starts_with(std::to_string(list->serial).substr(0, 4)));
    EXPECT_NEAR(static_cast<double>(list->expires - now), 90.0 * 86400, 60);
    MakeSigningKey(dir.path() / "key");
    SignFile(dir.path() / "key", dir.path() / "KEL.release");
    EXPECT_EQ(RunCommand("minisign -Vq -p '" + (dir.path() / "key/key.pub").string() + "' -m '" +
                         (dir.path() / "KEL.release").string() + "'"),
              0);

    // Never a serial that is not above the list replaced.
    const std::string before = ReadFile(dir.path() / "KEL.release");
    for (const std::string& serial : {std::string("5"), std::to_string(list->serial)}) {
        const Tool again = RunTool(dir.path(), "--application KEL_V12.zip --serial " + serial + " -o KEL.release");
        EXPECT_EQ(again.exitCode, 2) << again.output;
        EXPECT_NE(again.output.find("is not above " + std::to_string(list->serial)), std::string::npos) << again.output;
    }
    EXPECT_EQ(ReadFile(dir.path() / "KEL.release"), before);
    const Tool above =
        RunTool(dir.path(), "--application KEL_V12.zip --serial 99999999999999 --valid 7 -o KEL.release");
    EXPECT_EQ(above.exitCode, 0) << above.output;
    EXPECT_FALSE(CReleaseList::Parse(ReadFile(dir.path() / "KEL.release"))->update);
    // The default (the clock) neither, after a list whose serial is ahead of it.
    const Tool clock = RunTool(dir.path(), "--application KEL_V12.zip -o KEL.release");
    EXPECT_EQ(clock.exitCode, 2) << clock.output;
    EXPECT_NE(clock.output.find("is not above 99999999999999"), std::string::npos) << clock.output;
}

TEST(ReleaseTool, BadArgumentsAreNamedAndExitTwo)
{
    TempDir dir;
    WriteZip(dir.path() / "KEL_V12.zip", "    z.writestr('a', 'a')\n");
    WriteFile(dir.path() / "notzip.zip", "not a zip");
    WriteFile(dir.path() / "other.txt", "not a list");
    const struct {
        const char* args;
        const char* said;
    } cases[] = {
        {"-o KEL.release", "--application names no archive"},
        {"--application KEL_V12.zip", "-o names no file"},
        {"--application missing.zip -o KEL.release", "missing.zip: no such file"},
        {"--application notzip.zip -o KEL.release", "notzip.zip: not a zip archive"},
        {"--application KEL_V12.zip --update notzip.zip -o KEL.release", "notzip.zip: not a zip archive"},
        {"--application KEL_V12.zip --valid 0 -o KEL.release", "--valid must be from 1"},
        {"--application KEL_V12.zip --valid -3 -o KEL.release", "--valid must be a whole number"},
        {"--application KEL_V12.zip --serial 12x -o KEL.release", "--serial must be a whole number"},
        {"--application KEL_V12.zip --update KEL_V12.zip -o KEL.release", "--update names the application"},
        {"--application KEL_V12.zip -o other.txt", "other.txt is there and is no release list"},
        {"--application KEL_V12.zip --colour red -o KEL.release", "unknown option --colour"},
    };
    for (const auto& c : cases) {
        const Tool t = RunTool(dir.path(), c.args);
        EXPECT_EQ(t.exitCode, 2) << c.args;
        EXPECT_NE(t.output.find(c.said), std::string::npos) << c.args << "\n" << t.output;
    }
    EXPECT_FALSE(fs::exists(dir.path() / "KEL.release"));
}
