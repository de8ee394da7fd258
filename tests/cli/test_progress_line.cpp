#include "cli/CTerminalDisplay.h"
#include "cli/ProgressLine.h"

#include <gtest/gtest.h>

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
    ProgressLine line{true, 0.5, true, 256ull << 20, 512ull << 20, 32.0 * (1 << 20), "KEL_V12 - 50% Complete"};
    const std::string wide = BarLine(line, 120);
    EXPECT_EQ(wide,
              "[#############..............]  256.0 MiB of 512.0 MiB  32.0 MiB/s  0:08 left  KEL_V12 - 50% Complete");
    for (int width : {80, 60, 40, 20, 10, 1}) {
        const std::string narrow = BarLine(line, width);
        EXPECT_LT(static_cast<int>(narrow.size()), std::max(width, 1)) << width << ": " << narrow;
    }
    EXPECT_EQ(BarLine(line, 60), "[######......]  256.0 MiB of 512.0 MiB  32.0 MiB/s  KEL_V12");
    // Without a bar, the status alone, cut at a character boundary.
    const ProgressLine status{false, 0, false, 0, 0, 0, "KEL_V12 \xC3\xA9t\xC3\xA9"};
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
