// How a dialog looks on the screen; see dialoglook.h.
#include "ui/dialoglook.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>

#include "ui/dialogdriver.h"

namespace {

BOOL CALLBACK collectControl(HWND window, LPARAM context) {
    auto* controls = reinterpret_cast<std::vector<Control>*>(context);
    Control c = {};
    c.window = window;
    c.id = GetDlgCtrlID(window);
    char name[64] = {}, text[512] = {};
    GetClassNameA(window, name, sizeof name);
    GetWindowTextA(window, text, sizeof text);
    c.className = name;
    c.style = GetWindowLongA(window, GWL_STYLE);
    c.text = text;
    GetWindowRect(window, &c.rect);
    MapWindowPoints(nullptr, GetParent(window), reinterpret_cast<POINT*>(&c.rect), 2);
    controls->push_back(c);
    return TRUE;
}

}  // namespace

std::vector<Control> controlsOf(HWND dialog) {
    std::vector<Control> controls;
    EnumChildWindows(dialog, collectControl, reinterpret_cast<LPARAM>(&controls));
    // Only direct children: a combo box's own edit or list is part of it.
    std::vector<Control> direct;
    for (const Control& c : controls)
        if (GetParent(c.window) == dialog) direct.push_back(c);
    return direct;
}

bool isStatic(const Control& c) { return _stricmp(c.className.c_str(), "Static") == 0; }
LONG staticKind(const Control& c) { return c.style & SS_TYPEMASK; }

namespace {

bool isButton(const Control& c) { return _stricmp(c.className.c_str(), "Button") == 0; }
LONG buttonKind(const Control& c) { return c.style & BS_TYPEMASK; }

// Frames, lines and group boxes hold or divide other controls.
bool isContainer(const Control& c) {
    if (isStatic(c)) {
        LONG kind = staticKind(c);
        return kind == SS_ETCHEDFRAME || kind == SS_ETCHEDHORZ || kind == SS_ETCHEDVERT;
    }
    return isButton(c) && buttonKind(c) == BS_GROUPBOX;
}

// The space the text needs in the control's font, wrapped to width when the
// control wraps.
SIZE textNeeds(const Control& c, int width, bool wraps) {
    HDC dc = GetDC(c.window);
    HFONT font = reinterpret_cast<HFONT>(SendMessageA(c.window, WM_GETFONT, 0, 0));
    HGDIOBJ old = SelectObject(dc, font);
    RECT r = {0, 0, width, 0};
    DrawTextA(dc, c.text.c_str(), -1, &r, DT_CALCRECT | DT_NOPREFIX | (wraps ? DT_WORDBREAK : DT_SINGLELINE));
    SelectObject(dc, old);
    ReleaseDC(c.window, dc);
    return {r.right - r.left, r.bottom - r.top};
}

bool overlap(const RECT& a, const RECT& b) {
    RECT both;
    return IntersectRect(&both, &a, &b) != FALSE;
}

}  // namespace

void expectTextsFit(const std::vector<Control>& controls) {
    for (const Control& c : controls) {
        if (c.text.empty()) continue;
        int width = c.rect.right - c.rect.left, height = c.rect.bottom - c.rect.top;
        SCOPED_TRACE("control " + std::to_string(c.id) + " \"" + c.text + "\"");
        if (isStatic(c) && (staticKind(c) == SS_LEFT || staticKind(c) == SS_CENTER)) {
            SIZE need = textNeeds(c, width, true);
            EXPECT_LE(need.cx, width);
            EXPECT_LE(need.cy, height) << "wrapped text is cut off at the bottom";
        } else if (isButton(c)) {
            LONG kind = buttonKind(c);
            // Room taken by the tick box and its gap, or by the push button's edges.
            int chrome = (kind == BS_PUSHBUTTON || kind == BS_DEFPUSHBUTTON) ? 6 : 16;
            SIZE need = textNeeds(c, width, false);
            EXPECT_LE(need.cx + chrome, width);
            if (kind != BS_GROUPBOX) {
                EXPECT_LE(need.cy, height);
            }
        }
    }
}

void expectNoOverlap(const std::vector<Control>& controls) {
    for (size_t i = 0; i < controls.size(); ++i)
        for (size_t j = i + 1; j < controls.size(); ++j) {
            const Control &a = controls[i], &b = controls[j];
            if (isContainer(a) || isContainer(b)) continue;
            // A closed combo box's rectangle includes its drop-down list; use the visible part.
            RECT ra = a.rect, rb = b.rect;
            if (_stricmp(a.className.c_str(), "ComboBox") == 0) ra.bottom = ra.top + 24;
            if (_stricmp(b.className.c_str(), "ComboBox") == 0) rb.bottom = rb.top + 24;
            EXPECT_FALSE(overlap(ra, rb)) << "\"" << a.text << "\" (" << a.id << ") overlaps \"" << b.text << "\" ("
                                          << b.id << ")";
        }
}

Picture capture(const RECT& screenRect) {
    Picture p;
    p.width = screenRect.right - screenRect.left;
    p.height = screenRect.bottom - screenRect.top;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = p.width;
    info.bmiHeader.biHeight = -p.height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, p.width, p.height, screen, screenRect.left, screenRect.top, SRCCOPY);
    GdiFlush();
    int stride = (p.width * 3 + 3) & ~3;
    p.bgr.resize(static_cast<size_t>(p.width) * p.height * 3);
    for (int y = 0; y < p.height; ++y)
        memcpy(&p.bgr[static_cast<size_t>(y) * p.width * 3], static_cast<unsigned char*>(bits) + y * stride, p.width * 3);
    SelectObject(memory, old);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return p;
}

namespace {

void saveBmp(const Picture& p, const std::string& path) {
    int stride = (p.width * 3 + 3) & ~3;
    BITMAPFILEHEADER file = {};
    BITMAPINFOHEADER header = {};
    header.biSize = sizeof header;
    header.biWidth = p.width;
    header.biHeight = -p.height;
    header.biPlanes = 1;
    header.biBitCount = 24;
    file.bfType = 0x4d42;
    file.bfOffBits = sizeof file + sizeof header;
    file.bfSize = file.bfOffBits + stride * p.height;
    FILE* out = fopen(path.c_str(), "wb");
    ASSERT_TRUE(out) << path;
    fwrite(&file, sizeof file, 1, out);
    fwrite(&header, sizeof header, 1, out);
    std::vector<unsigned char> row(stride, 0);
    for (int y = 0; y < p.height; ++y) {
        memcpy(row.data(), &p.bgr[static_cast<size_t>(y) * p.width * 3], p.width * 3);
        fwrite(row.data(), stride, 1, out);
    }
    fclose(out);
}

}  // namespace

void takeScreenshot(HWND dialog, const char* name) {
    RedrawWindow(dialog, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN | RDW_FRAME);
    drain(dialog);
    RECT r;
    GetWindowRect(dialog, &r);
    CreateDirectoryA("screenshots", nullptr);
    saveBmp(capture(r), std::string("screenshots\\") + name + ".bmp");
}

void lookAt(HWND dialog, const char* name) {
    SCOPED_TRACE(name);
    std::vector<Control> controls = controlsOf(dialog);
    EXPECT_GT(controls.size(), 5u);
    expectTextsFit(controls);
    expectNoOverlap(controls);
    takeScreenshot(dialog, name);
}

