#include "tracelog/trace.h"

#include "tracelog/observer.h"
#include "tracelog/pbclient.h"

#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace {

ObserverHolder<TraceObserver> g_observer;

const char* unitName(const char* file) {
    const char* name = file;
    for (const char* p = file; *p; ++p)
        if (*p == '/' || *p == '\\') name = p + 1;
    return name;
}

}  // namespace

void setTraceObserver(TraceObserver observer, void* context) { g_observer.set(observer, context); }

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

    g_observer.notify(unit, line, level, static_cast<const char*>(text));
    pbTraceSink(unit, line, DWORD(level), text);
}

TraceScope::TraceScope(const char* file, int line, const char* name) : file_(file), line_(line), name_(name) {
    traceLine(file_, line_, TRACE_SCOPE, "Entering scope: %s", name_);
}

TraceScope::~TraceScope() { traceLine(file_, line_, TRACE_SCOPE, "Leaving scope: %s", name_); }
