// Date-times of the mail layer: days since 30 December 1899, the fraction
// being the time of day (a negative value counts days back from that date,
// its fraction still the time of day).
#pragma once

#include <cstdint>
#include <string>

namespace qf {

using DateTime = double;

// Converts a stored UTC file time (100-nanosecond units since 1 January 1601)
// to a local date-time to the millisecond.  The local offset is the one in
// force at the moment of conversion, as the messaging platform's file-time
// conversion does.
DateTime FileTimeToLocalDateTime(std::uint64_t fileTime);

// Calendar parts of a date-time (month and day count from 1).
struct DateTimeParts {
    int year = 1899, month = 12, day = 30;
    int hour = 0, minute = 0, second = 0, millisecond = 0;
};
DateTimeParts DecodeDateTime(DateTime value);
DateTime EncodeDateTime(const DateTimeParts& parts);

// The date in the locale's short date format.
std::string FormatShortDate(DateTime value);
// The time of day in the locale's long time format.
std::string FormatLongTime(DateTime value);
// The current local date as "yyyymmdd".
std::string TodayYyyymmdd();

} // namespace qf
