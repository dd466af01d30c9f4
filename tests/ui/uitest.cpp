#include "uitest.h"

#include <gtest/gtest.h>

HWND waitForDialog(const char* caption, const std::vector<HWND>& except) {
    // Generous: the first program in a fresh Wine prefix takes a while to show its first window.
    HWND dialog = drive::waitForWindow(caption, 30000, except);
    if (!dialog) {
        ADD_FAILURE() << "no dialog \"" << caption << "\" appeared";
        return nullptr;
    }
    EXPECT_TRUE(drain(dialog)) << "the dialog's thread did not answer";
    return dialog;
}

INT_PTR driveDialog(const std::function<INT_PTR()>& show, const std::function<void()>& user) {
    bool leftOpen = false;
    INT_PTR result = drive::playDialog(show, user, &leftOpen);
    EXPECT_FALSE(leftOpen) << "a dialog was left open by the test";
    return result;
}

INT_PTR withDialog(const std::function<INT_PTR()>& show, const char* caption, const std::function<void(HWND)>& user) {
    return driveDialog(show, [&] {
        HWND dialog = waitForDialog(caption);
        if (dialog) user(dialog);
    });
}

bool isCentred(HWND dialog) {
    RECT r;
    GetWindowRect(dialog, &r);
    int width = r.right - r.left, height = r.bottom - r.top;
    return r.left == GetSystemMetrics(SM_CXSCREEN) / 2 - width / 2 &&
           r.top == GetSystemMetrics(SM_CYSCREEN) / 2 - height / 2;
}

namespace {

// A dialog's direct child as drawn (a combo box's own edit or list is part of it).
struct Control {
    HWND window;
    int id;
    std::string className;
    LONG style;
    std::string text;
    RECT rect;  // dialog client coordinates
};

bool isStatic(const Control& c) { return _stricmp(c.className.c_str(), "Static") == 0; }
LONG staticKind(const Control& c) { return c.style & SS_TYPEMASK; }

BOOL CALLBACK collectControl(HWND window, LPARAM context) {
    char name[64] = {}, text[512] = {};
    GetClassNameA(window, name, sizeof name);
    GetWindowTextA(window, text, sizeof text);
    Control c = {window, GetDlgCtrlID(window), name, GetWindowLongA(window, GWL_STYLE), text, {}};
    GetWindowRect(window, &c.rect);
    MapWindowPoints(nullptr, GetParent(window), reinterpret_cast<POINT*>(&c.rect), 2);
    reinterpret_cast<std::vector<Control>*>(context)->push_back(c);
    return TRUE;
}

// The button's kind, or -1 for a control that is no button.
LONG buttonKind(const Control& c) { return _stricmp(c.className.c_str(), "Button") == 0 ? c.style & BS_TYPEMASK : -1; }

// Frames, lines and group boxes hold or divide other controls.
bool isContainer(const Control& c) {
    const LONG kind = staticKind(c);
    return buttonKind(c) == BS_GROUPBOX ||
           (isStatic(c) && (kind == SS_ETCHEDFRAME || kind == SS_ETCHEDHORZ || kind == SS_ETCHEDVERT));
}

// Texts and buttons: the text in the control's own font, wrapped in a text
// field, on one line beside a tick box (16 pixels) or within a button's edges (6).
void expectTextsFit(const std::vector<Control>& controls) {
    for (const Control& c : controls) {
        const LONG kind = buttonKind(c);
        const bool wraps = isStatic(c) && (staticKind(c) == SS_LEFT || staticKind(c) == SS_CENTER);
        if (c.text.empty() || (!wraps && kind < 0)) continue;
        SCOPED_TRACE("control " + std::to_string(c.id) + " \"" + c.text + "\"");
        const int width = c.rect.right - c.rect.left, height = c.rect.bottom - c.rect.top;
        const int chrome = wraps ? 0 : kind == BS_PUSHBUTTON || kind == BS_DEFPUSHBUTTON ? 6 : 16;
        HDC dc = GetDC(c.window);
        HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageA(c.window, WM_GETFONT, 0, 0)));
        RECT need = {0, 0, width, 0};
        DrawTextA(dc, c.text.c_str(), -1, &need, DT_CALCRECT | DT_NOPREFIX | (wraps ? DT_WORDBREAK : DT_SINGLELINE));
        SelectObject(dc, old);
        ReleaseDC(c.window, dc);
        EXPECT_LE(need.right + chrome, width);
        if (kind != BS_GROUPBOX) {
            EXPECT_LE(need.bottom, height) << "the text is cut off at the bottom";
        }
    }
}

void expectNoOverlap(const std::vector<Control>& controls) {
    for (size_t i = 0; i < controls.size(); ++i)
        for (size_t j = i + 1; j < controls.size(); ++j) {
            const Control &a = controls[i], &b = controls[j];
            if (isContainer(a) || isContainer(b)) continue;
            // A closed combo box's rectangle includes its drop-down list; use the visible part.
            RECT ra = a.rect, rb = b.rect, both;
            if (_stricmp(a.className.c_str(), "ComboBox") == 0) ra.bottom = ra.top + 24;
            if (_stricmp(b.className.c_str(), "ComboBox") == 0) rb.bottom = rb.top + 24;
            EXPECT_FALSE(IntersectRect(&both, &ra, &rb))
                << "\"" << a.text << "\" (" << a.id << ") overlaps \"" << b.text << "\" (" << b.id << ")";
        }
}

std::vector<Control> controlsOf(HWND dialog) {
    std::vector<Control> controls, direct;
    EnumChildWindows(dialog, collectControl, reinterpret_cast<LPARAM>(&controls));
    for (const Control& c : controls)
        if (GetParent(c.window) == dialog) direct.push_back(c);
    return direct;
}

}  // namespace

void lookAt(HWND dialog, const char* name) {
    SCOPED_TRACE(name);
    std::vector<Control> controls = controlsOf(dialog);
    EXPECT_GT(controls.size(), 5u);
    expectTextsFit(controls);
    expectNoOverlap(controls);
    RedrawWindow(dialog, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN | RDW_FRAME);
    drain(dialog);
    CreateDirectoryA("screenshots", nullptr);
    EXPECT_TRUE(saveWindowPicture(dialog, (std::string("screenshots\\") + name + ".bmp").c_str()));
}
