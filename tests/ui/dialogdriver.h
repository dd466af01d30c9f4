// Driving real modal dialogs from a test. The test thread shows the dialog
// (modal loops run on the thread that opens them); a second thread plays the
// user: it finds the window, reads and changes controls with window messages
// and presses buttons.
#pragma once

#include <windows.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

// The visible dialog of this process with this caption that is not in
// `except`; null (and a test failure) after timeoutMs (generous: the first
// program in a fresh Wine prefix takes a while to show its first window).
HWND waitForDialog(const char* caption, const std::vector<HWND>& except = {}, DWORD timeoutMs = 30000);

// Returns once the dialog's thread has handled everything posted to it so far.
void drain(HWND dialog);

// A press the way a user makes it: BM_CLICK posted to the button, then drained.
// Posted, so that a press which opens a nested modal window does not block.
void press(HWND dialog, int id);
// Escape key, and the close box of the caption.
void pressEscape(HWND dialog);
void pressCloseBox(HWND dialog);

std::string textOf(HWND dialog, int id);
void setText(HWND dialog, int id, const std::string& text);
bool isTicked(HWND dialog, int id);
bool isEnabled(HWND dialog, int id);

// A combo box entry: its text and its item value.
struct ListEntry {
    std::string text;
    LONG_PTR value;
    bool operator==(const ListEntry& o) const { return text == o.text && value == o.value; }
};
std::vector<ListEntry> listEntries(HWND dialog, int id);
int listSelection(HWND dialog, int id);  // -1 when nothing is selected
void selectEntry(HWND dialog, int id, int position);

// Runs show() on this thread while user() runs on a second thread. Whatever
// user() leaves open when it returns is ended, so a failed step cannot hang
// the test. Returns show()'s result.
INT_PTR driveDialog(const std::function<INT_PTR()>& show, const std::function<void()>& user);

// Every value under the settings key, by name.
std::map<std::string, std::string> settingsSnapshot();

// Where the dialog's window is, and whether it is centred as the dialogs
// centre themselves (integer halving of screen and window size).
bool isCentred(HWND dialog);
