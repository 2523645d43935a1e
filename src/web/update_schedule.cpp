#include "web/update_schedule.h"

#include "settings/settings.h"

#include <ctime>

namespace qf::web {

namespace {

// 30 December 1899 is day 0.
constexpr std::chrono::sys_days kEpoch =
    std::chrono::sys_days(std::chrono::year(1899) / std::chrono::December / 30);

} // namespace

int DayNumberOf(int year, unsigned month, unsigned day) {
    const std::chrono::sys_days d(std::chrono::year(year) / std::chrono::month(month) /
                                  std::chrono::day(day));
    return static_cast<int>((d - kEpoch).count());
}

CalendarDate DateOfDayNumber(int dayNumber) {
    const std::chrono::year_month_day ymd(kEpoch + std::chrono::days(dayNumber));
    return {static_cast<int>(ymd.year()), static_cast<unsigned>(ymd.month()),
            static_cast<unsigned>(ymd.day())};
}

int DayNumber(std::chrono::system_clock::time_point t) {
    const std::time_t secs = std::chrono::system_clock::to_time_t(t);
    std::tm local{};
    localtime_r(&secs, &local);
    return DayNumberOf(local.tm_year + 1900, static_cast<unsigned>(local.tm_mon + 1),
                       static_cast<unsigned>(local.tm_mday));
}

int TodayNumber() {
    return DayNumber(std::chrono::system_clock::now());
}

UpdateSchedule::UpdateSchedule(registry::Registry& reg, std::function<int()> today)
    : reg_(reg), today_(std::move(today)) {
    nextCheckDate_ = today_() + kFirstOfferDays;
}

void UpdateSchedule::Load() {
    nextCheckDate_ = today_() + kFirstOfferDays;
    const auto value = reg_.GetValue(kSettingsKey, kValueName);
    if (value && value->kind == registry::ValueKind::Dword) {
        nextCheckDate_ = static_cast<std::int32_t>(value->dword);
    }
}

void UpdateSchedule::Save() {
    registry::RegistryKey key(reg_);
    if (key.OpenKey(kSettingsKey, true)) {
        key.WriteInteger(kValueName, nextCheckDate_);
        key.CloseKey();
    }
}

bool UpdateSchedule::TakeOfferIfDue(bool startedWithParameters) {
    if (nextCheckDate_ == 0 || startedWithParameters) {
        return false;
    }
    const int today = today_();
    if (today < nextCheckDate_) {
        return false;
    }
    nextCheckDate_ = today + kOfferIntervalDays;
    return true;
}

void UpdateSchedule::DontAskUntil(int day) {
    nextCheckDate_ = day;
    Save();
}

} // namespace qf::web
