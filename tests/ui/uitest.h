// What the dialog tests share: the window driver (tools/drive) with test
// failures for a dialog that does not appear or is left open, and how a dialog
// looks on the screen (every text fits its control in the dialog's own font,
// no controls overlap, a picture of it).
#pragma once

#include <windows.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "drive.h"
#include "platform/platform.h"

using namespace drive;

// The visible dialog with this caption that is not in `except`, once the
// work its opening posted is done; null (and a test failure) after 30 s.
HWND waitForDialog(const char* caption, const std::vector<HWND>& except = {});
// drive::playDialog, failing the test when user() left a dialog open.
INT_PTR driveDialog(const std::function<INT_PTR()>& show, const std::function<void()>& user);
// driveDialog for one dialog: user() gets the dialog with this caption once it shows.
INT_PTR withDialog(const std::function<INT_PTR()>& show, const char* caption, const std::function<void(HWND)>& user);

// Whether the dialog is centred as the dialogs centre themselves (integer
// halving of screen and window size).
bool isCentred(HWND dialog);

// Checks that every text fits and nothing overlaps, and saves the dialog as
// "screenshots\<name>.bmp" in the working folder.
void lookAt(HWND dialog, const char* name);
