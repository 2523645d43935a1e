#include "mail/mail_time.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <langinfo.h>

namespace qf {

namespace {

// Days from 1 January 1601 to 30 December 1899.
constexpr std::int64_t kFileTimeEpochDays = 109205;
constexpr std::int64_t kMsPerDay = 86400000;

// Days since 1 January 1970 of a civil date (proleptic Gregorian).
std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

void CivilFromDays(std::int64_t z, int& year, int& month, int& day) {
    z += 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const std::int64_t y = static_cast<std::int64_t>(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    year = static_cast<int>(y + (month <= 2));
}

// Days since 1970 of 30 December 1899.
const std::int64_t kDateTimeEpochUnixDays = DaysFromCivil(1899, 12, 30);

// Milliseconds since 30 December 1899 (may be negative) from a date-time.
std::int64_t ToMilliseconds(DateTime value) {
    // Beyond about 27,000 years either way a date-time names nothing real.
    if (!std::isfinite(value) || std::fabs(value) > 1e7) {
        value = 0;
    }
    // The whole part is the day, the absolute fraction the time of day.
    const double whole = std::trunc(value);
    const double frac = std::fabs(value - whole);
    auto ms = static_cast<std::int64_t>(std::llround(frac * kMsPerDay));
    auto days = static_cast<std::int64_t>(whole);
    if (ms >= kMsPerDay) {
        ms = kMsPerDay - 1;
    }
    return days * kMsPerDay + ms;
}

DateTime FromMilliseconds(std::int64_t ms) {
    std::int64_t days = ms / kMsPerDay;
    std::int64_t rest = ms % kMsPerDay;
    if (rest < 0) {
        rest += kMsPerDay;
        --days;
    }
    const double frac = static_cast<double>(rest) / kMsPerDay;
    return days >= 0 ? static_cast<double>(days) + frac : static_cast<double>(days) - frac;
}

std::tm ToTm(DateTime value) {
    const DateTimeParts p = DecodeDateTime(value);
    std::tm tm{};
    tm.tm_year = p.year - 1900;
    tm.tm_mon = p.month - 1;
    tm.tm_mday = p.day;
    tm.tm_hour = p.hour;
    tm.tm_min = p.minute;
    tm.tm_sec = p.second;
    const std::int64_t unixDays = DaysFromCivil(p.year, p.month, p.day);
    tm.tm_wday = static_cast<int>(((unixDays % 7) + 11) % 7); // 1970-01-01 was a Thursday
    tm.tm_yday = static_cast<int>(unixDays - DaysFromCivil(p.year, 1, 1));
    tm.tm_isdst = -1;
    return tm;
}

// Formats with the current locale's date or time pattern (LC_TIME).
std::string StrftimeLocale(nl_item item, const std::tm& tm) {
    char buffer[256];
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
    const std::size_t n = std::strftime(buffer, sizeof buffer, nl_langinfo(item), &tm);
#pragma GCC diagnostic pop
    return std::string(buffer, n);
}

} // namespace

long CurrentUtcOffsetSeconds() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return local.tm_gmtoff;
}

DateTime FileTimeToLocalDateTime(std::uint64_t fileTime) {
    // File times are at most 2^64 units: whole milliseconds fit an int64.
    const auto utcMs = static_cast<std::int64_t>(fileTime / 10000);
    const std::int64_t localMs =
        utcMs + static_cast<std::int64_t>(CurrentUtcOffsetSeconds()) * 1000;
    return FromMilliseconds(localMs - kFileTimeEpochDays * kMsPerDay);
}

DateTimeParts DecodeDateTime(DateTime value) {
    const std::int64_t ms = ToMilliseconds(value);
    std::int64_t days = ms / kMsPerDay;
    std::int64_t rest = ms % kMsPerDay;
    if (rest < 0) {
        rest += kMsPerDay;
        --days;
    }
    DateTimeParts p;
    CivilFromDays(days + kDateTimeEpochUnixDays, p.year, p.month, p.day);
    p.hour = static_cast<int>(rest / 3600000);
    p.minute = static_cast<int>(rest / 60000 % 60);
    p.second = static_cast<int>(rest / 1000 % 60);
    p.millisecond = static_cast<int>(rest % 1000);
    return p;
}

DateTime EncodeDateTime(const DateTimeParts& p) {
    const std::int64_t days =
        DaysFromCivil(p.year, static_cast<unsigned>(p.month), static_cast<unsigned>(p.day)) -
        kDateTimeEpochUnixDays;
    const std::int64_t ms =
        ((static_cast<std::int64_t>(p.hour) * 60 + p.minute) * 60 + p.second) * 1000 +
        p.millisecond;
    return FromMilliseconds(days * kMsPerDay + ms);
}

std::string FormatShortDate(DateTime value) {
    return StrftimeLocale(D_FMT, ToTm(value));
}

std::string FormatLongTime(DateTime value) {
    return StrftimeLocale(T_FMT, ToTm(value));
}

std::string TodayYyyymmdd() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char buffer[48];
    std::snprintf(buffer, sizeof buffer, "%04d%02d%02d", local.tm_year + 1900, local.tm_mon + 1,
                  local.tm_mday);
    return buffer;
}

} // namespace qf
