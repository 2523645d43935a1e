// The mail layer's date-times (common/date_time.h): stored times turned into
// local date-times, calendar parts, and the locale's date and time texts.
#pragma once

#include "common/date_time.h"

#include <cstdint>
#include <string>

namespace qf {

// Converts a stored UTC file time (100-nanosecond units since 1 January 1601)
// to a local date-time to the millisecond.  The local offset is the one in
// force when the conversion runs, not the one in force at the time converted:
// a summer time read in winter comes out an hour off.
DateTime FileTimeToLocalDateTime(std::uint64_t fileTime);
// The local time's offset from UTC in force now, in seconds (east positive):
// the offset FileTimeToLocalDateTime adds.
long CurrentUtcOffsetSeconds();

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
