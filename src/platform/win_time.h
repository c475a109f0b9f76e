// The local wall clock, as the platform reports it.
#pragma once

#include "platform/win_types.h"

struct SYSTEMTIME {
    WORD wYear;
    WORD wMonth;      // 1..12
    WORD wDayOfWeek;  // 0 = Sunday
    WORD wDay;        // 1..31
    WORD wHour;
    WORD wMinute;
    WORD wSecond;
    WORD wMilliseconds;
};
typedef SYSTEMTIME* LPSYSTEMTIME;

// Fills the current local date and time.
void GetLocalTime(LPSYSTEMTIME time);

// Test control: while a fixed time is set, GetLocalTime reports it instead of
// the clock. A null argument returns to the clock.
void SetFixedLocalTime(const SYSTEMTIME* time);
