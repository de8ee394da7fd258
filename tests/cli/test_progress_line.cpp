#include "cli/CTerminalDisplay.h"
#include "cli/CTerminalReceiver.h"
#include "cli/ProgressLine.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <thread>

TEST(ProgressLine, BinaryUnitsAndDurations)
{
    EXPECT_EQ(FormatBytes(0), "0 B");
    EXPECT_EQ(FormatBytes(1023), "1023 B");
    EXPECT_EQ(FormatBytes(1536), "1.5 KiB");
    EXPECT_EQ(FormatBytes(12ull << 20), "12.0 MiB");
    EXPECT_EQ(FormatBytes(4509715660ull), "4.20 GiB");
    EXPECT_EQ(FormatDuration(7.4), "0:07");
    EXPECT_EQ(FormatDuration(754), "12:34");
    EXPECT_EQ(FormatDuration(3723), "1:02:03");
}

TEST(ProgressLine, FitsTheWidthDroppingFromTheRight)
{
    ProgressLine line{true, 0.5, true, 256ull << 20, 512ull << 20, 32.0 * (1 << 20), "KEL_V12 - 50% Complete", ""};
    const std::string wide = BarLine(line, 120);
    EXPECT_EQ(wide,
              "[#############..............]  256.0 MiB of 512.0 MiB  32.0 MiB/s  0:08 left  KEL_V12 - 50% Complete");
    for (int width : {80, 60, 40, 20, 10, 1}) {
        const std::string narrow = BarLine(line, width);
        EXPECT_LT(static_cast<int>(narrow.size()), std::max(width, 1)) << width << ": " << narrow;
    }
    EXPECT_EQ(BarLine(line, 60), "[######......]  256.0 MiB of 512.0 MiB  32.0 MiB/s  KEL_V12");
    // Without a bar, the status alone, cut at a character boundary.
    const ProgressLine status{false, 0, false, 0, 0, 0, "KEL_V12 \xC3\xA9t\xC3\xA9", ""};
    EXPECT_EQ(BarLine(status, 11), "KEL_V12 \xC3\xA9t");
}

TEST(ProgressLine, CountsWiderThan32BitsFromTheFirstChunk)
{
    // A 4.5 GiB download: the whole total shows from the first chunk on.
    CNotifyChannel channel;
    CProgressModel model(channel);
    CTerminalDisplay display(CTerminalDisplay::Mode::Quiet);
    channel.appName.Set("KEL_V12");
    model.Take(UM_FILENAME_UPDATE, kApplicationChosen, 0);
    const std::int64_t total = 4608ll << 20;
    model.Take(UM_PROGRESS_BAR, 0, total);
    model.Take(UM_PROGRESS_BAR, 65536, total);
    channel.statusText.Set("KEL_V12 - 0% Complete");
    model.Take(UM_FILENAME_UPDATE, kStatusChanged, 0);
    EXPECT_EQ(BarLine(display.LineFor(model), 120),
              "[...........................]  64.0 KiB of 4.50 GiB  KEL_V12 - 0% Complete");
    model.Take(UM_PROGRESS_BAR, total / 2, total);
    EXPECT_EQ(BarLine(display.LineFor(model), 60).substr(0, 36), "[######......]  2.25 GiB of 4.50 GiB");
}

namespace {

using BarCount = CNotifyChannel::BarCount;

// The last part of a job as the worker posts it, as fast as it can: each slot
// written, then its notice posted, the next slot written at once.
void PostJobEnd(CNotifyChannel& channel)
{
    const auto status = [&](const std::string& text, unsigned kind = kStatusChanged, std::int64_t l = 0) {
        channel.statusText.Set(text);
        channel.Post(UM_FILENAME_UPDATE, kind, l);
    };
    const auto download = [&](const std::string& name, std::int64_t total) {
        channel.barCounts = BarCount::Downloaded;
        channel.Post(UM_PROGRESS_BAR, 0, total);
        for (std::int64_t done = 65536; done <= total; done += 65536) {
            channel.Post(UM_PROGRESS_BAR, static_cast<std::uint64_t>(done), total);
            status(name + " - " + std::to_string(done * 100 / total) + "% Complete");
        }
        channel.Post(UM_PROGRESS_BAR, static_cast<std::uint64_t>(total), total);
    };
    const auto unpack = [&](const std::string& archive, std::int64_t total) {
        channel.barCounts = BarCount::Unpacked;
        channel.Post(UM_PROGRESS_BAR, 0, total);
        channel.Post(UM_PROGRESS_BAR, 0, total);
        status(archive + " - 1 of 1");
        channel.Post(UM_PROGRESS_BAR, static_cast<std::uint64_t>(total), total);
    };
    status("Found Application File");
    channel.appName.Set("KEL_V12");
    channel.Post(UM_FILENAME_UPDATE, kApplicationChosen, 0);
    download("KEL_V12", 1 << 20);
    unpack("KEL_V12.zip", 4 << 20);
    status("Found Update File");
    channel.updateName.Set("KELUPD03_05");
    channel.Post(UM_FILENAME_UPDATE, kUpdateChosen, 0);
    download("KELUPD03_05", 131072);
    unpack("KELUPD03_05.zip", 200000);
    channel.failureReason.Set("");
    status("Download Complete", kJobOver, static_cast<std::int64_t>(RunResult::Complete));
}

// Reads what a receiver queued, as the terminal program's main thread does.
struct Reader {
    CTerminalDisplay& display;
    CProgressModel& model;
    CTerminalReceiver& receiver;
    void UntilTheEnd()
    {
        while (!model.Result()) {
            const auto n = receiver.Wait(std::chrono::milliseconds(5000));
            if (!n)
                break;
            display.Show(model, model.Take(*n));
        }
        display.Finish(model.Status(), "/f/");
    }
};

// The job's output in `mode`, the reader `late` (only once everything is posted) or alongside.
std::string Output(CTerminalDisplay::Mode mode, bool late)
{
    char* text = nullptr;
    std::size_t size = 0;
    std::FILE* out = open_memstream(&text, &size);
    {
        CNotifyChannel channel;
        CTerminalReceiver receiver(channel);
        channel.Attach(&receiver);
        CProgressModel model(channel);
        CTerminalDisplay display(mode, out);
        std::thread worker([&] { PostJobEnd(channel); });
        if (late)
            worker.join();
        Reader{display, model, receiver}.UntilTheEnd();
        if (!late)
            worker.join();
    }
    std::fclose(out);
    std::string result(text, size);
    std::free(text);
    return result;
}

}   // namespace

// A log holds every status once, in the order posted, the names where they
// were chosen and the final status last, however late the reader comes.
TEST(TerminalDisplay, ALogKeepsTheOrderPostedHoweverLateTheReader)
{
    const std::string log = Output(CTerminalDisplay::Mode::Lines, /*late=*/true);
    EXPECT_EQ(log, "Found Application File\nApplication: KEL_V12\n"
                   "KEL_V12 - 6% Complete\nKEL_V12 - 12% Complete\nKEL_V12 - 18% Complete\nKEL_V12 - 25% Complete\n"
                   "KEL_V12 - 31% Complete\nKEL_V12 - 37% Complete\nKEL_V12 - 43% Complete\nKEL_V12 - 50% Complete\n"
                   "KEL_V12 - 56% Complete\nKEL_V12 - 62% Complete\nKEL_V12 - 68% Complete\nKEL_V12 - 75% Complete\n"
                   "KEL_V12 - 81% Complete\nKEL_V12 - 87% Complete\nKEL_V12 - 93% Complete\nKEL_V12 - 100% Complete\n"
                   "KEL_V12.zip - 1 of 1\nFound Update File\nUpdate: KELUPD03_05\n"
                   "KELUPD03_05 - 50% Complete\nKELUPD03_05 - 100% Complete\nKELUPD03_05.zip - 1 of 1\n"
                   "Download Complete\nDownload folder: /f/\n");
    // Statuses microseconds apart, read as they come: the same log every time.
    for (int run = 0; run < 200; ++run)
        ASSERT_EQ(Output(CTerminalDisplay::Mode::Lines, /*late=*/false), log) << "run " << run;
}

// On a terminal: the line names the stage, a finished bar is full, and the
// final status stands alone on its line, never beside a bar.
TEST(TerminalDisplay, TheLineNamesItsStageFillsAFinishedBarAndEndsWithTheVerdictAlone)
{
    const std::string screen = Output(CTerminalDisplay::Mode::Terminal, /*late=*/true);
    EXPECT_TRUE(screen.ends_with("\r\033[KDownload Complete\nDownload folder: /f/\n")) << screen;
    std::vector<std::string> drawn;
    for (std::size_t at = 0, next = 0; at != std::string::npos; at = next) {
        next = screen.find("\r\033[K", at + 1);
        drawn.push_back(screen.substr(at, next == std::string::npos ? next : next - at));
    }
    const auto first = [&](const std::string& part) {
        return std::find_if(drawn.begin(), drawn.end(), [&](const std::string& d) { return d.find(part) != d.npos; });
    };
    ASSERT_NE(first("Downloading  ["), drawn.end());
    ASSERT_NE(first("Unpacking  ["), drawn.end());
    // The application's download ended: its bar full beside its last status.
    const auto done = first("Downloaded  [");
    ASSERT_NE(done, drawn.end());
    EXPECT_NE(done->find("#]  1.0 MiB of 1.0 MiB"), std::string::npos) << *done;
    EXPECT_EQ(done->substr(0, done->find(']')).find('.'), std::string::npos) << *done;
    for (const std::string& d : drawn) {
        if (d.find("Download Complete") != d.npos) {
            EXPECT_EQ(d.find(']'), std::string::npos) << d;
        }
    }
}

TEST(ProgressLine, TheStageLeadsTheLine)
{
    ProgressLine line{true, 1.0, true, 2u << 20, 2u << 20, 0, "KEL_V12 - 100% Complete", "Downloaded"};
    EXPECT_EQ(BarLine(line, 80), "Downloaded  [#################]  2.0 MiB of 2.0 MiB  KEL_V12 - 100% Complete");
    line = {true, 0, true, 0, 4608ull << 20, 0, "KEL_V12 - 100% Complete", "Unpacking"};
    EXPECT_EQ(BarLine(line, 80), "Unpacking  [.................]  0 B of 4.50 GiB  KEL_V12 - 100% Complete");
}
