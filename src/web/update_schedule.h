// When the update check offers itself: the next-check date, a whole day
// number (days since 30 December 1899 of the local calendar), kept in the
// registry value "updateDate" of the settings key.  0 means never on its own.
//
// Days come from the local calendar date, not from elapsed seconds, so a
// daylight-saving change never moves a day; a clock set back simply makes
// the check wait until the date comes round again.
#pragma once

#include "platform/registry/registry.h"

#include <chrono>
#include <functional>

namespace qf::web {

// The day number of the local calendar date at `t`.
int DayNumber(std::chrono::system_clock::time_point t);
// The day number of `year`-`month`-`day` (proleptic Gregorian).
int DayNumberOf(int year, unsigned month, unsigned day);
// (year, month, day) of a day number.
struct CalendarDate {
    int year = 0;
    unsigned month = 0;
    unsigned day = 0;
    bool operator==(const CalendarDate&) const = default;
};
CalendarDate DateOfDayNumber(int dayNumber);

// Today's day number (the system clock, local calendar).
int TodayNumber();

class UpdateSchedule {
public:
    static constexpr const char* kValueName = "updateDate";
    // Days until the first offer on a first start; days between offers.
    static constexpr int kFirstOfferDays = 5;
    static constexpr int kOfferIntervalDays = 7;

    // `today` gives the current day number (tests set the clock).
    explicit UpdateSchedule(registry::Registry& reg, std::function<int()> today = &TodayNumber);

    // Reads the next-check date; a missing or unreadable value means today + 5.
    void Load();
    // Writes the next-check date (with the main window's values).  Throws
    // qf::FileError when the registry cannot be saved.
    void Save();

    int NextCheckDate() const { return nextCheckDate_; }
    void SetNextCheckDate(int day) { nextCheckDate_ = day; }
    int Today() const { return today_(); }

    // The start-up rule.  Not due when the date is 0 or the program was
    // started with parameters; due when today has reached the date, which
    // then moves to today + 7.  Returns whether the offer is due.
    bool TakeOfferIfDue(bool startedWithParameters);

    // "Don't ask me again until": the date becomes `day`, written at once.
    void DontAskUntil(int day);

private:
    registry::Registry& reg_;
    std::function<int()> today_;
    int nextCheckDate_ = 0;
};

} // namespace qf::web
