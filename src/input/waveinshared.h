// Module-wide waveIn state shared by the device code (open, close, driver
// callback) and the capture read. Internal to the input room.
#pragma once

#include <windows.h>

#include <atomic>

#include "input/inputstream.h"

// Event i is signalled by the driver callback when buffer i comes back. They
// exist between openWaveInDevice and closeInputDevice.
extern HANDLE g_waveInEvents[kWaveInBufferCeiling];
// User data (buffer index) of the buffer the driver returned last; written by
// the driver's thread, read by the reading thread.
extern std::atomic<int> g_lastCompletedIndex;
// The buffer the next read takes; kept across runs, modulo the buffers in use.
extern int g_nextBufferIndex;
