#include "tracelog/trace.h"

#include "tracelog/pbclient.h"

#include <windows.h>

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace {

struct Observer {
    TraceObserver fn;
    void* context;
};
std::atomic<Observer*> g_observer{nullptr};
Observer g_observerSlots[2];
int g_nextSlot = 0;

const char* unitName(const char* file) {
    const char* name = file;
    for (const char* p = file; *p; ++p)
        if (*p == '/' || *p == '\\') name = p + 1;
    return name;
}

}  // namespace

void setTraceObserver(TraceObserver observer, void* context) {
    if (!observer) {
        g_observer.store(nullptr);
        return;
    }
    // Two slots so a line being delivered never sees a half-written observer.
    Observer& slot = g_observerSlots[g_nextSlot];
    g_nextSlot ^= 1;
    slot.fn = observer;
    slot.context = context;
    g_observer.store(&slot);
}

void traceLine(const char* file, int line, int level, const char* format, ...) {
    char text[1024];
    va_list args;
    va_start(args, format);
    vsnprintf(text, sizeof text, format, args);
    va_end(args);
    const char* unit = unitName(file);

    char debugLine[1200];
    snprintf(debugLine, sizeof debugLine, "HarnwickLive %s(%d) [%d] %s\n", unit, line, level, text);
    OutputDebugStringA(debugLine);

    if (Observer* o = g_observer.load()) o->fn(o->context, unit, line, level, text);
    pbTraceSink(unit, line, DWORD(level), text);
}

TraceScope::TraceScope(const char* file, int line, const char* name) : file_(file), line_(line), name_(name) {
    traceLine(file_, line_, TRACE_SCOPE, "Entering scope: %s", name_);
}

TraceScope::~TraceScope() { traceLine(file_, line_, TRACE_SCOPE, "Leaving scope: %s", name_); }
