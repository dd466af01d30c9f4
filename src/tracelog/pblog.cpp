// The client's log calls: level filter, defaults and vetoes first (so that a
// line nobody wants costs nothing), then formatting, then the write.
#include <cstdio>
#include <cwchar>
#include <string>

#include "tracelog/pbinternal.h"

namespace {

const size_t kTextUnits = 2048;

// Levels outside the known set become 0 when their low 16 bits are set.
DWORD filterLevel(DWORD level) {
    switch (level) {
    case 0: case 1: case 2: case 4: case 8: case 0x10: case 0x20: case 0x40: case 0x80: case 0x4000: case 0x8000:
        return level;
    default:
        return (level & 0xFFFF) ? 0 : level;
    }
}

bool vetoes(const PBComponent* component, DWORD level) {
    return component && (!component->enabled || (component->mutedLevels & level));
}

bool vetoes(const PBContext* context, DWORD level) {
    return context && (!context->enabled || (context->mutedLevels & level));
}

// Whether a line is to be written at all; fills in the defaults.
bool wanted(DWORD* level, const PBComponent** component, const PBContext** context) {
    int state = pbClient().state.load();
    if (state != PB_NOT_CONNECTED && state != PB_CONNECTED) return false;
    *level = filterLevel(*level);
    if (*level == 1) return false;
    if (!*component) *component = pbThreadComponent();
    if (!*component) *component = pbClient().defaultComponent.load();
    if (!*context) *context = pbThreadContext();
    if (!*context) *context = pbClient().defaultContext.load();
    return !vetoes(*component, *level) && !vetoes(*context, *level);
}

void write(const wchar_t* file, int line, DWORD level, const PBComponent* component, const PBContext* context,
           const wchar_t* text) {
    PBCallGuard guard;
    if (guard.active() && pbEnsureConnected()) pbWriteRecord(file, line, level, component, context, text);
}

void writeAnsi(const char* file, int line, DWORD level, const PBComponent* component, const PBContext* context,
               const char* text) {
    write(pbWiden(file).c_str(), line, level, component, context, pbWiden(text).c_str());
}

}  // namespace

std::wstring pbWiden(const char* text) {
    int units = text ? MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0) : 0;
    if (units <= 0) return std::wstring();
    std::wstring wide(units, L'\0');
    MultiByteToWideChar(CP_ACP, 0, text, -1, &wide[0], units);
    wide.resize(units - 1);
    return wide;
}

void traceLineExV(const char* file, int line, DWORD level, const PBComponent* component, const PBContext* context,
                  const char* format, va_list args) {
    if (!wanted(&level, &component, &context)) return;
    char text[kTextUnits];
    vsnprintf(text, sizeof text, format, args);
    writeAnsi(file, line, level, component, context, text);
}

void traceLineEx(const char* file, int line, DWORD level, const PBComponent* component, const PBContext* context,
                 const char* format, ...) {
    va_list args;
    va_start(args, format);
    traceLineExV(file, line, level, component, context, format, args);
    va_end(args);
}

void traceLineW(const wchar_t* file, int line, DWORD level, const PBComponent* component, const PBContext* context,
                const wchar_t* format, ...) {
    if (!wanted(&level, &component, &context)) return;
    wchar_t text[kTextUnits];
    va_list args;
    va_start(args, format);
    if (vswprintf(text, kTextUnits, format, args) < 0) text[kTextUnits - 1] = 0;
    va_end(args);
    write(file, line, level, component, context, text);
}

void pbTraceSink(const char* file, int line, DWORD level, const char* text) {
    const PBComponent* component = nullptr;
    const PBContext* context = nullptr;
    if (wanted(&level, &component, &context)) writeAnsi(file, line, level, component, context, text);
}

void pbLogApi(const wchar_t* format, ...) {
    PBClientState& client = pbClient();
    wchar_t text[512];
    va_list args;
    va_start(args, format);
    if (vswprintf(text, 512, format, args) < 0) text[511] = 0;
    va_end(args);
    write(L"", 0, kPBLevelApi, &client.apiComponent, &client.apiContext, text);
}

PBTraceScope::PBTraceScope(const char* file, int line, DWORD level, const char* name, const PBComponent* component)
    : PBTraceScope(pbWiden(file).c_str(), line, level, pbWiden(name).c_str(), component) {}

PBTraceScope::PBTraceScope(const wchar_t* file, int line, DWORD level, const wchar_t* name,
                           const PBComponent* component)
    : line_(line), level_(level), component_(component) {
    swprintf(file_, 260, L"%ls", file ? file : L"");
    swprintf(name_, 128, L"%ls", name ? name : L"");
    traceLineW(file_, line_, level_, component_, nullptr, L"Entering scope: %ls", name_);
}

PBTraceScope::~PBTraceScope() { traceLineW(file_, line_, level_, component_, nullptr, L"Leaving scope: %ls", name_); }
