// How a dialog looks on the screen: its controls as drawn, whether every text
// fits its control in the dialog's own font, whether controls overlap, and
// pictures of what the screen shows. For the look tests of every program's
// dialogs.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

struct Control {
    HWND window;
    int id;
    std::string className;
    LONG style;
    std::string text;
    RECT rect;  // dialog client coordinates
};

// The dialog's direct children (a combo box's own edit or list is part of it).
std::vector<Control> controlsOf(HWND dialog);
bool isStatic(const Control& c);
LONG staticKind(const Control& c);

// Every text fits its control in the control's font (wrapped where it wraps).
void expectTextsFit(const std::vector<Control>& controls);
// No two controls overlap; frames and group boxes hold others and are left out.
void expectNoOverlap(const std::vector<Control>& controls);

// The window as the screen shows it, 24 bits per pixel, top row first.
struct Picture {
    int width = 0, height = 0;
    std::vector<unsigned char> bgr;
    COLORREF at(int x, int y) const {
        const unsigned char* p = &bgr[(static_cast<size_t>(y) * width + x) * 3];
        return RGB(p[2], p[1], p[0]);
    }
};

Picture capture(const RECT& screenRect);
// Saves what the screen shows of the dialog as "screenshots\<name>.bmp" in
// the working folder.
void takeScreenshot(HWND dialog, const char* name);
// The two checks and the picture.
void lookAt(HWND dialog, const char* name);
