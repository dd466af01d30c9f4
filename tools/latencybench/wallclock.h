// The wall clock in seconds since 1970, to the microsecond. Under Wine it is
// the Linux clock, so the sound server's recorder can time-stamp on the same
// clock as the programs that press buttons.
#pragma once

#include <windows.h>

inline double wallClockSeconds() {
    FILETIME now;
    GetSystemTimePreciseAsFileTime(&now);
    const ULONGLONG ticks = (static_cast<ULONGLONG>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
    const ULONGLONG kEpochTicks = 116444736000000000ULL;  // 1601 -> 1970 in 100 ns ticks
    return static_cast<double>(ticks - kEpochTicks) / 1e7;
}
