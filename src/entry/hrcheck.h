// The HRESULT check line: after a COM call whose result is not S_OK, one
// warning line naming the caller's unit, operation and line. The line itself
// is filed under this header.
#pragma once

#include <windows.h>

#include <cstdint>

#include "tracelog/trace.h"

inline const char* unitOf(const char* path) {
    const char* name = path;
    for (const char* p = path; *p; ++p)
        if (*p == '/' || *p == '\\') name = p + 1;
    return name;
}

inline void checkResult(HRESULT hr, const char* file, const char* function, int line) {
    if (hr != S_OK)
        traceLine(__FILE__, __LINE__, TRACE_WARNING, "%s - %s - %d - Function returned HRESULT = 0x%08x", unitOf(file),
                  function, line, static_cast<unsigned>(hr));
}

#define CHECK_HR(hr) checkResult((hr), __FILE__, __func__, __LINE__)

// Pointer values in trace lines: at least 8 hex digits, 16 on 64-bit.
#define PTR_FMT "0x%08llx"
#define PTR_ARG(p) static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(p))
