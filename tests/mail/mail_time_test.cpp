#include "mail/mail_time.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <ctime>

namespace qf {
namespace {

TEST(MailTime, EncodeDecodeRoundTrip) {
    const DateTimeParts cases[] = {
        {1899, 12, 30, 0, 0, 0, 0}, {2026, 12, 9, 10, 3, 4, 567}, {1601, 1, 1, 23, 59, 59, 999},
        {2000, 2, 29, 12, 0, 0, 0}, {1899, 12, 29, 6, 0, 0, 0},
    };
    for (const auto& c : cases) {
        const DateTimeParts back = DecodeDateTime(EncodeDateTime(c));
        EXPECT_EQ(back.year, c.year);
        EXPECT_EQ(back.month, c.month);
        EXPECT_EQ(back.day, c.day);
        EXPECT_EQ(back.hour, c.hour);
        EXPECT_EQ(back.minute, c.minute);
        EXPECT_EQ(back.second, c.second);
        EXPECT_EQ(back.millisecond, c.millisecond);
    }
    EXPECT_DOUBLE_EQ(EncodeDateTime({1900, 1, 1, 0, 0, 0, 0}), 2.0);
    EXPECT_DOUBLE_EQ(EncodeDateTime({1899, 12, 29, 6, 0, 0, 0}), -1.25);
}

TEST(MailTime, FileTimeUsesCurrentOffset) {
    // 2026-12-09 10:00:00 UTC as a file time.
    const std::uint64_t ft = (13441284000ULL) * 10000000ULL;
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    const DateTimeParts utc = {2026, 12, 9, 10, 0, 0, 0};
    const double expected = EncodeDateTime(utc) + static_cast<double>(local.tm_gmtoff) / 86400.0;
    EXPECT_NEAR(FileTimeToLocalDateTime(ft), expected, 1e-6);
}

TEST(MailTime, NonsenseValuesDecodeAsZero) {
    for (double v : {std::nan(""), 1e300, -1e300}) {
        const DateTimeParts p = DecodeDateTime(v);
        EXPECT_EQ(p.year, 1899);
        EXPECT_EQ(p.day, 30);
    }
}

TEST(MailTime, TodayHasEightDigits) {
    const std::string today = TodayYyyymmdd();
    ASSERT_EQ(today.size(), 8u);
    EXPECT_EQ(today.substr(0, 2), "20");
}

} // namespace
} // namespace qf
