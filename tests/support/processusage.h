// A process's open handles and committed private memory, for leak checks.
//
// Wine 8 answers GetProcessHandleCount with 0 and PrivateUsage with 0; where
// they report nothing, the handles are counted by asking each handle value of
// the process for a duplicate, and the private bytes are the committed
// private regions of its address space, which is what PrivateUsage reports
// on Windows.
#pragma once

#include <windows.h>

struct ProcessUsage {
    DWORD handles = 0;
    SIZE_T privateBytes = 0;
};

// process needs query, duplicate-handle and read access (GetCurrentProcess() has all).
ProcessUsage processUsage(HANDLE process);

// DirectSoundCapture and DirectSound opened and released with plain calls,
// one capture buffer made and released: Wine itself keeps about 64 KiB per
// capture buffer, which leak checks of DirectSound users compare against.
void plainDirectSoundCaptureCycle();
