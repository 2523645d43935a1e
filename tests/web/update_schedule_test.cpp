#include "web/update_schedule.h"

#include "web/update_site.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

namespace qf::web {
namespace {

constexpr const char* kKey = "SOFTWARE\\Brindlemox\\Quillfence";

TEST(DayNumbers, CountFromThe30thOfDecember1899) {
    EXPECT_EQ(DayNumberOf(1899, 12, 30), 0);
    EXPECT_EQ(DayNumberOf(2015, 4, 2), 42096);
    EXPECT_EQ(DateOfDayNumber(42096), (CalendarDate{2015, 4, 2}));
    EXPECT_EQ(DateOfDayNumber(DayNumberOf(2024, 2, 29)), (CalendarDate{2024, 2, 29}));
}

// Sets TZ for one test and puts the old one back.
class ScopedTimeZone {
public:
    explicit ScopedTimeZone(const char* tz) {
        if (const char* old = std::getenv("TZ")) {
            old_ = old;
        }
        setenv("TZ", tz, 1);
        tzset();
    }
    ~ScopedTimeZone() {
        if (old_) {
            setenv("TZ", old_->c_str(), 1);
        } else {
            unsetenv("TZ");
        }
        tzset();
    }

private:
    std::optional<std::string> old_;
};

TEST(DayNumbers, FollowTheLocalCalendarAcrossADaylightSavingChange) {
    const ScopedTimeZone berlin("CET-1CEST,M3.5.0,M10.5.0/3");
    using std::chrono::sys_days;
    const auto day = sys_days(std::chrono::year(2024) / 3 / 31);
    // 00:30 CET (still 30 March in UTC) and 23:30 CEST the same day.
    const auto early = day - std::chrono::minutes(30);
    const auto late = day + std::chrono::hours(21) + std::chrono::minutes(30);
    EXPECT_EQ(DayNumber(early), DayNumberOf(2024, 3, 31));
    EXPECT_EQ(DayNumber(late), DayNumberOf(2024, 3, 31));
    EXPECT_EQ(DayNumber(late + std::chrono::hours(1)), DayNumberOf(2024, 4, 1));
}

class Schedule : public ::testing::Test {
protected:
    registry::MemoryRegistry reg;
    int today = 45000;
    UpdateSchedule schedule{reg, [this] { return today; }};

    std::optional<registry::Value> Stored() const {
        return reg.GetValue(kKey, UpdateSchedule::kValueName);
    }
};

TEST_F(Schedule, AMissingOrUnreadableDateMeansInFiveDays) {
    schedule.Load();
    EXPECT_EQ(schedule.NextCheckDate(), 45005);
    reg.CreateKey(kKey);
    reg.SetValue(kKey, "updateDate", registry::Value::String("45001"));
    schedule.Load();
    EXPECT_EQ(schedule.NextCheckDate(), 45005);
    reg.SetValue(kKey, "updateDate", registry::Value::Dword(45001));
    schedule.Load();
    EXPECT_EQ(schedule.NextCheckDate(), 45001);
}

TEST_F(Schedule, TheOfferComesOnTheDateAndThenWeekly) {
    schedule.SetNextCheckDate(45000);
    EXPECT_FALSE(schedule.TakeOfferIfDue(true)); // started with parameters
    EXPECT_EQ(schedule.NextCheckDate(), 45000);
    EXPECT_TRUE(schedule.TakeOfferIfDue(false));
    EXPECT_EQ(schedule.NextCheckDate(), 45007);
    EXPECT_FALSE(schedule.TakeOfferIfDue(false));
    today = 45006;
    EXPECT_FALSE(schedule.TakeOfferIfDue(false));
    today = 45030; // a late start: a week from the day it comes
    EXPECT_TRUE(schedule.TakeOfferIfDue(false));
    EXPECT_EQ(schedule.NextCheckDate(), 45037);
    // The offer moves the date in memory; the main window writes it.
    EXPECT_FALSE(Stored());
}

TEST_F(Schedule, DateZeroNeverOffers) {
    schedule.SetNextCheckDate(0);
    for (int d : {0, 45000, 99999}) {
        today = d;
        EXPECT_FALSE(schedule.TakeOfferIfDue(false));
    }
    EXPECT_EQ(schedule.NextCheckDate(), 0);
}

TEST_F(Schedule, AClockSetBackWaitsForTheDateToComeAgain) {
    schedule.SetNextCheckDate(45000);
    ASSERT_TRUE(schedule.TakeOfferIfDue(false)); // next 45007
    today = 44970;                               // the clock goes back a month
    EXPECT_FALSE(schedule.TakeOfferIfDue(false));
    EXPECT_EQ(schedule.NextCheckDate(), 45007);
    today = 45007;
    EXPECT_TRUE(schedule.TakeOfferIfDue(false));
}

TEST_F(Schedule, DontAskAgainUntilIsWrittenAtOnceAndHoldsAcrossAClockChange) {
    schedule.DontAskUntil(45100);
    EXPECT_EQ(Stored(), registry::Value::Dword(45100));
    today = 45099;
    EXPECT_FALSE(schedule.TakeOfferIfDue(false));
    today = 44000; // clock set back a long way
    EXPECT_FALSE(schedule.TakeOfferIfDue(false));
    today = 45100;
    EXPECT_TRUE(schedule.TakeOfferIfDue(false));
    EXPECT_EQ(schedule.NextCheckDate(), 45107);
    schedule.Save();
    EXPECT_EQ(Stored(), registry::Value::Dword(45107));
    UpdateSchedule again(reg, [] { return 1; });
    again.Load();
    EXPECT_EQ(again.NextCheckDate(), 45107);
}

TEST(UpdateSite, SettingsThenEnvironmentChooseTheSite) {
    registry::MemoryRegistry reg;
    unsetenv("QUILLFENCE_UPDATE_SITE");
    unsetenv("QUILLFENCE_UPDATE_CA_FILE");
    UpdateSite site = UpdateSite::Load(reg);
    EXPECT_EQ(site.siteAddress, kDefaultSite);
    EXPECT_EQ(site.DownloadsPage(), std::string(kDefaultSite) + "/downloads");

    reg.CreateKey(kKey);
    reg.SetValue(kKey, "updateSite", registry::Value::String("https://mirror.example/qf/"));
    reg.SetValue(kKey, "proxy", registry::Value::String("proxy.example:3128"));
    reg.SetValue(kKey, "proxyUser", registry::Value::String("pu"));
    reg.SetValue(kKey, "proxyPassword", registry::Value::String("pp"));
    site = UpdateSite::Load(reg);
    EXPECT_EQ(site.siteAddress, "https://mirror.example/qf");
    EXPECT_EQ(site.proxy, "proxy.example:3128");
    EXPECT_EQ(site.proxyUser, "pu");
    EXPECT_EQ(site.proxyPassword, "pp");

    setenv("QUILLFENCE_UPDATE_SITE", "http://127.0.0.1:1", 1);
    EXPECT_EQ(UpdateSite::Load(reg).siteAddress, "http://127.0.0.1:1");
    unsetenv("QUILLFENCE_UPDATE_SITE");
    EXPECT_FALSE(NetUserName().empty());
}

} // namespace
} // namespace qf::web
