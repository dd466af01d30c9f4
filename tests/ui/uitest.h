// What the dialog tests share: the window driver (tools/drive) with test
// failures for a dialog that does not appear or is left open, the settings
// as one map, and how a dialog looks on the screen (every text fits its
// control in the dialog's own font, no controls overlap, a picture of it).
#pragma once

#include <windows.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "drive.h"

using drive::buttonEnabled;
using drive::buttonText;
using drive::drain;
using drive::isTicked;
using drive::ListEntry;
using drive::listEntries;
using drive::listSelection;
using drive::pressButton;
using drive::pressCloseBox;
using drive::pressEscape;
using drive::selectEntry;
using drive::setText;

// The visible dialog with this caption that is not in `except`, once the
// work its opening posted is done; null (and a test failure) after 30 s.
HWND waitForDialog(const char* caption, const std::vector<HWND>& except = {});
// drive::playDialog, failing the test when user() left a dialog open.
INT_PTR driveDialog(const std::function<INT_PTR()>& show, const std::function<void()>& user);

// Every value under the settings key, by name.
std::map<std::string, std::string> settingsSnapshot();
// Whether the dialog is centred as the dialogs centre themselves (integer
// halving of screen and window size).
bool isCentred(HWND dialog);

// A dialog's direct child as drawn (a combo box's own edit or list is part of it).
struct Control {
    HWND window;
    int id;
    std::string className;
    LONG style;
    std::string text;
    RECT rect;  // dialog client coordinates
};
std::vector<Control> controlsOf(HWND dialog);
bool isStatic(const Control& c);
LONG staticKind(const Control& c);
// Checks that every text fits and nothing overlaps, and saves the dialog as
// "screenshots\<name>.bmp" in the working folder.
void lookAt(HWND dialog, const char* name);
