#include "support/processusage.h"

#include <mmsystem.h>
#include <dsound.h>
#include <psapi.h>

namespace {

DWORD probedHandleCount(HANDLE process) {
    DWORD count = 0;
    for (ULONG_PTR value = 4; value < 0x10000; value += 4) {
        HANDLE copy = nullptr;
        if (!DuplicateHandle(process, reinterpret_cast<HANDLE>(value), GetCurrentProcess(), &copy, 0, FALSE,
                             DUPLICATE_SAME_ACCESS))
            continue;
        CloseHandle(copy);
        ++count;
    }
    return count;
}

SIZE_T committedPrivateBytes(HANDLE process) {
    SIZE_T total = 0;
    MEMORY_BASIC_INFORMATION region;
    const char* address = nullptr;
    while (VirtualQueryEx(process, address, &region, sizeof region) == sizeof region) {
        if (region.State == MEM_COMMIT && region.Type == MEM_PRIVATE) total += region.RegionSize;
        const char* next = static_cast<const char*>(region.BaseAddress) + region.RegionSize;
        if (next <= address) break;
        address = next;
    }
    return total;
}

}  // namespace

ProcessUsage processUsage(HANDLE process) {
    ProcessUsage usage;
    if (!GetProcessHandleCount(process, &usage.handles) || usage.handles == 0) usage.handles = probedHandleCount(process);
    PROCESS_MEMORY_COUNTERS_EX counters = {};
    counters.cb = sizeof counters;
    if (GetProcessMemoryInfo(process, reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters), sizeof counters))
        usage.privateBytes = counters.PrivateUsage;
    if (usage.privateBytes == 0) usage.privateBytes = committedPrivateBytes(process);
    return usage;
}

void plainDirectSoundCaptureCycle() {
    WAVEFORMATEX format = {WAVE_FORMAT_PCM, 2, 44100, 176400, 4, 16, 0};
    IDirectSoundCapture* capture = nullptr;
    if (SUCCEEDED(DirectSoundCaptureCreate(nullptr, &capture, nullptr))) {
        DSCBUFFERDESC1 description = {sizeof description, 0, 65536, 0, &format};
        IDirectSoundCaptureBuffer* buffer = nullptr;
        if (SUCCEEDED(capture->CreateCaptureBuffer(reinterpret_cast<DSCBUFFERDESC*>(&description), &buffer,
                                                   nullptr)))
            buffer->Release();
        capture->Release();
    }
    IDirectSound* playback = nullptr;
    if (SUCCEEDED(DirectSoundCreate(nullptr, &playback, nullptr))) playback->Release();
}
