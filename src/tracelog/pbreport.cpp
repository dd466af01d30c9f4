// The internal error reporter: what goes wrong inside the client reaches
// the system event log (source "Paul Bunyan"), never the program.
#include <cstdio>
#include <cwchar>

#include "tracelog/observer.h"
#include "tracelog/pbinternal.h"

namespace {

ObserverHolder<PBErrorObserver> g_observer;

void systemText(DWORD windowsError, wchar_t* out, DWORD units) {
    out[0] = 0;
    DWORD n = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, windowsError,
                             MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), out, units, nullptr);
    while (n > 0 && (out[n - 1] == L'\r' || out[n - 1] == L'\n')) out[--n] = 0;
}

}  // namespace

void setPBErrorObserver(PBErrorObserver observer, void* observerContext) {
    g_observer.set(observer, observerContext);
}

void pbReportError(DWORD code, DWORD windowsError, const wchar_t* detail, bool warning) {
    const PBClientState& client = pbClient();
    wchar_t errorText[256];
    systemText(windowsError, errorText, 256);
    const wchar_t* strings[] = {client.processPath, client.modulePath, errorText, detail ? detail : L""};
    g_observer.notify(code, windowsError, strings[3]);

    HANDLE source = RegisterEventSourceW(nullptr, L"Paul Bunyan");
    bool reported = source && ReportEventW(source, warning ? EVENTLOG_WARNING_TYPE : EVENTLOG_ERROR_TYPE,
                                           WORD((code & 0xFFFF) / 100), code, nullptr, 4, 0, strings, nullptr);
    if (source) DeregisterEventSource(source);
    if (!reported) {
        char line[80];
        snprintf(line, sizeof line, "Unable to log error %lu, windows error %lu.\n", code, windowsError);
        OutputDebugStringA(line);
    }
}
