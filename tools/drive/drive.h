// Driving windows the way a user does: find a window by its caption, press
// buttons and keys, read and change controls, answer a message box, and take
// a picture of what the screen shows. One library for the autopilot, the
// benchmarks, the end-to-end tests (the host in its own process) and the
// dialog tests (a dialog of the test's own process, see playDialog).
//
// Presses are posted, never sent, so a press that opens a nested modal
// window does not block the caller. Nothing here waits longer than the
// time-out it is given.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

namespace drive {

// A visible top-level window with this caption that is not in `except`,
// waiting up to timeoutMs; null if none appeared.
HWND waitForWindow(const char* caption, DWORD timeoutMs, const std::vector<HWND>& except = {});
// Whether the window is gone within timeoutMs.
bool waitForWindowGone(HWND window, DWORD timeoutMs);
// For a window of this process: returns once its thread has handled
// everything posted to it so far, including what that work posted in turn.
// False when the thread did not answer within 10 s.
bool drain(HWND window);

// A dialog button pressed the way a click presses it (BM_CLICK, posted).
void pressButton(HWND dialog, int id);
void pressEscape(HWND dialog);
void pressCloseBox(HWND dialog);
// A message box's text, read before pressing `button` and waiting (5 s at
// most) for the box to go.
std::string answerMessageBox(HWND box, int button = IDOK);

// A control's text (a button's caption, a field's contents, a label); asked
// with a time-out, as the dialog may be busy inside RUN or STOP.
std::string buttonText(HWND dialog, int id);
bool buttonEnabled(HWND dialog, int id);
// Waits until the control's text is `text`; false on time-out.
bool waitForButtonText(HWND dialog, int id, const char* text, DWORD timeoutMs);
void setText(HWND dialog, int id, const std::string& text);
bool isTicked(HWND dialog, int id);

// A combo box entry: its text and its item value.
struct ListEntry {
    std::string text;
    LONG_PTR value;
    bool operator==(const ListEntry& o) const { return text == o.text && value == o.value; }
};
std::vector<ListEntry> listEntries(HWND dialog, int id);
int listSelection(HWND dialog, int id);  // -1 when nothing is selected
void selectEntry(HWND dialog, int id, int position);

// What the screen shows in a rectangle, 24 bits per pixel, top row first.
struct Picture {
    int width = 0, height = 0;
    std::vector<unsigned char> bgr;
    COLORREF at(int x, int y) const {
        const unsigned char* p = &bgr[(static_cast<size_t>(y) * width + x) * 3];
        return RGB(p[2], p[1], p[0]);
    }
};
Picture capture(const RECT& screenRect);
// Writes a picture as a 24-bit BMP file; false when the file cannot be written.
bool savePicture(const Picture& picture, const char* path);
bool saveWindowPicture(HWND window, const char* path);

// Runs show() on this thread (modal loops run on the thread that opens them)
// while user() plays the user on a second thread. Whatever user() leaves open
// when it returns is ended after a second's grace, so a failed step cannot
// hang the caller; leftOpen (when given) tells whether that was needed.
// Returns show()'s result.
INT_PTR playDialog(const std::function<INT_PTR()>& show, const std::function<void()>& user,
                   bool* leftOpen = nullptr);

}  // namespace drive
