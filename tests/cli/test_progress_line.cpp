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
    EXPECT_EQ(wide, "[#############..............]  256.0 MiB of 512.0 MiB  32.0 MiB/s  0:08 left  KEL_V12 - 50% Complete");
    for (int width : {80, 60, 40, 20, 10, 1}) {
        const std::string narrow = BarLine(line, width);
        EXPECT_LT(static_cast<int>(narrow.size()), std::max(width, 1)) << width << ": " << narrow;
    }
    EXPECT_EQ(BarLine(line, 60), "[######......]  256.0 MiB of 512.0 MiB  32.0 MiB/s  KEL_V12");
    // Without a bar, the status alone, cut at a character boundary.
    const ProgressLine status{false, 0, false, 0, 0, 0, "KEL_V12 \xC3\xA9t\xC3\xA9"};
    EXPECT_EQ(BarLine(status, 11), "KEL_V12 \xC3\xA9t");
}

TEST(ProgressLine, CountsWiderThan32Bits)
{
    // Positions grow by less than 4 GiB a step; a smaller low part means a wrap.
    EXPECT_EQ(UnwrapPosition(0, 65536), 65536u);
    EXPECT_EQ(UnwrapPosition(0xFFFF0000ull, 0x00010000u), 0x100010000ull);
    EXPECT_EQ(UnwrapPosition(0x100010000ull, 0x00020000u), 0x100020000ull);
    // A 4.4 GB archive: its range is 4.4 GB less 4 GiB; the percentage tells the rest.
    const std::uint64_t size = 4400000000ull;
    const auto low = static_cast<std::uint32_t>(size);
    EXPECT_EQ(WidenTotal(low, 1000000, 0), low);   // nothing known yet
    EXPECT_EQ(WidenTotal(low, 44000000, 1), size);
    EXPECT_EQ(WidenTotal(low, 2200000000ull, 50), size);
    EXPECT_EQ(WidenTotal(low, size, 100), size);
    EXPECT_EQ(WidenTotal(1000, 500, 50), 1000u);   // small files stay as they are
}
