// A second program logging into the same buffer: logs "ready", waits for the
// test's go signal, then logs the requested number of numbered records.
#include <windows.h>

#include <cstdlib>

#include "tracelog/trace.h"

int main(int argc, char** argv) {
    int count = argc > 1 ? atoi(argv[1]) : 100;
    HANDLE go = OpenEventW(SYNCHRONIZE, FALSE, L"HwTraceLogGo");
    TRACE(TRACE_INFO, "ready");
    if (!go || WaitForSingleObject(go, 30000) != WAIT_OBJECT_0) return 2;
    for (int i = 0; i < count; ++i) TRACE(TRACE_INFO, "child %d", i);
    CloseHandle(go);
    return 0;
}
