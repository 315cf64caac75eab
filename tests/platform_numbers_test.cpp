#include <gtest/gtest.h>

#include "platform/Numbers.h"

using namespace vistrel;

TEST(Rounding, HalvesGoToTheEvenNeighbour) {
    EXPECT_EQ(nearestInt(2.5), 2);
    EXPECT_EQ(nearestInt(3.5), 4);
    EXPECT_EQ(nearestInt(-2.5), -2);
    EXPECT_EQ(nearestInt(-3.5), -4);
    EXPECT_EQ(nearestInt(0.5), 0);
    EXPECT_EQ(nearestInt(2.5000001), 3);
    EXPECT_EQ(nearestInt(-0.4), 0);
    EXPECT_EQ(nearest(417.5), 418.0);
}

TEST(NumberPatterns, LeadingZerosAndWholeNumbers) {
    const QLocale c(QLocale::English, QLocale::UnitedStates);
    EXPECT_EQ(FormatNumber(7, "000", c), "007");
    EXPECT_EQ(FormatNumber(42, "000", c), "042");
    EXPECT_EQ(FormatNumber(0, "000", c), "000");
    EXPECT_EQ(FormatNumber(1234, "000", c), "1234");
    EXPECT_EQ(FormatNumber(255, "000", c), "255");
}

TEST(NumberPatterns, DecimalsUseTheLocalesPoint) {
    const QLocale us(QLocale::English, QLocale::UnitedStates);
    const QLocale de(QLocale::German, QLocale::Germany);
    EXPECT_EQ(FormatNumber(0.25, "0.00", us), "0.25");
    EXPECT_EQ(FormatNumber(1.5, "0.00", us), "1.50");
    EXPECT_EQ(FormatNumber(4, "0.00", us), "4.00");
    EXPECT_EQ(FormatNumber(254 / 256.0, "0.00", us), "0.99");
    EXPECT_EQ(FormatNumber(1.5, "0.00", de), "1,50");
    EXPECT_EQ(FormatNumber(0, "00.", us), "00.");
    EXPECT_EQ(FormatNumber(95, "000.", us), "095.");
    EXPECT_EQ(FormatNumber(1, "000", us), "001");
    EXPECT_EQ(FormatNumber(0, "00.", de), "00,");
    EXPECT_EQ(FormatNumber(1234, "000.", de), "1234,");
}

TEST(NumberPatterns, ThousandsGroupingUsesTheLocalesSeparator) {
    const QLocale us(QLocale::English, QLocale::UnitedStates);
    const QLocale de(QLocale::German, QLocale::Germany);
    EXPECT_EQ(FormatNumber(900, "0,0", us), "900");
    EXPECT_EQ(FormatNumber(2304, "0,0", us), "2,304");
    EXPECT_EQ(FormatNumber(0, "0,0", us), "00");
    EXPECT_EQ(FormatNumber(3145728, "0,0", us), "3,145,728");
    EXPECT_EQ(FormatNumber(2304, "0,0", de), "2.304");
    EXPECT_EQ(FormatNumber(-2304, "0,0", us), "-2,304");
}
