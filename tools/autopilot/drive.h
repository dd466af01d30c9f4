// Driving the host's windows from another process, as a user would: find a
// window by its caption, press buttons, read button texts and states, and
// take a picture of a window. Used by the autopilot and the end-to-end tests.
#pragma once

#include <windows.h>

#include <string>

namespace drive {

// The top-level window with this caption, waiting up to timeoutMs; null if none.
HWND waitForWindow(const char* caption, DWORD timeoutMs);
// Whether the window is gone within timeoutMs.
bool waitForWindowGone(HWND window, DWORD timeoutMs);
// Presses a dialog button the way a click does, without waiting for what it starts.
void pressButton(HWND dialog, int id);
std::string buttonText(HWND dialog, int id);
bool buttonEnabled(HWND dialog, int id);
// Waits until the button's text is `text`; false on time-out.
bool waitForButtonText(HWND dialog, int id, const char* text, DWORD timeoutMs);
// Writes what the screen shows inside the window to a 24-bit BMP file.
bool saveWindowPicture(HWND window, const char* path);

}  // namespace drive
