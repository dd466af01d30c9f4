#include <cstdio>
#include <cstring>

#include "entry/entry.h"
#include "platform/platform.h"

namespace {

// The system's text for hr without its trailing line break, or our fallback.
void messageText(HRESULT hr, char* text, size_t bytes) {
    DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                  static_cast<DWORD>(hr), MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), text,
                                  static_cast<DWORD>(bytes), nullptr);
    if (length > 0) {
        while (length > 0 && (text[length - 1] == '\n' || text[length - 1] == '\r')) text[--length] = '\0';
        return;
    }
    const unsigned long code = static_cast<unsigned long>(hr);
    if (code >= 0x80040200ul && code <= 0x8004FFFFul)
        snprintf(text, bytes, "IDispatch error #%d", static_cast<int>(code - 0x80040200ul));
    else
        snprintf(text, bytes, "Unknown error 0x%0lX", code);
}

}  // namespace

void showComError(const ComError& error, const char* action) {
    char text[256];
    messageText(error.hr, text, sizeof text);
    char message[256];
    snprintf(message, sizeof message, "Error in action %s: 0x%08X %s\n", action, static_cast<unsigned>(error.hr),
             text);
    showMessage(nullptr, message, "Harnwick", MB_OK | MB_ICONERROR);
    if (error.info) error.info->Release();
}
