#include "platform/win_time.h"

#include <sys/time.h>
#include <time.h>

namespace {
// Process-wide, unsynchronised, like the rest of the platform's test controls.
bool g_fixed = false;
SYSTEMTIME g_fixedTime = {};
}  // namespace

void GetLocalTime(LPSYSTEMTIME time) {
    if (!time) return;
    if (g_fixed) {
        *time = g_fixedTime;
        return;
    }
    struct timeval now = {};
    gettimeofday(&now, nullptr);
    struct tm local = {};
    time_t seconds = now.tv_sec;
    localtime_r(&seconds, &local);
    time->wYear = static_cast<WORD>(local.tm_year + 1900);
    time->wMonth = static_cast<WORD>(local.tm_mon + 1);
    time->wDayOfWeek = static_cast<WORD>(local.tm_wday);
    time->wDay = static_cast<WORD>(local.tm_mday);
    time->wHour = static_cast<WORD>(local.tm_hour);
    time->wMinute = static_cast<WORD>(local.tm_min);
    time->wSecond = static_cast<WORD>(local.tm_sec);
    time->wMilliseconds = static_cast<WORD>(now.tv_usec / 1000);
}

void SetFixedLocalTime(const SYSTEMTIME* time) {
    g_fixed = time != nullptr;
    if (time) g_fixedTime = *time;
}
