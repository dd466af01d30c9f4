#include "drive.h"

#include <cstdio>
#include <vector>

namespace drive {

namespace {
const DWORD kStepMs = 50;
}

HWND waitForWindow(const char* caption, DWORD timeoutMs) {
    for (DWORD waited = 0;; waited += kStepMs) {
        HWND window = FindWindowA(nullptr, caption);
        if (window && IsWindowVisible(window)) return window;
        if (waited >= timeoutMs) return nullptr;
        Sleep(kStepMs);
    }
}

bool waitForWindowGone(HWND window, DWORD timeoutMs) {
    for (DWORD waited = 0; waited <= timeoutMs; waited += kStepMs) {
        if (!IsWindow(window)) return true;
        Sleep(kStepMs);
    }
    return false;
}

void pressButton(HWND dialog, int id) { PostMessageA(GetDlgItem(dialog, id), BM_CLICK, 0, 0); }

std::string buttonText(HWND dialog, int id) {
    char text[256] = {};
    DWORD_PTR length = 0;
    // Ask with a time-out: the dialog may be busy inside RUN or STOP.
    SendMessageTimeoutA(GetDlgItem(dialog, id), WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text),
                        SMTO_ABORTIFHUNG, 2000, &length);
    return text;
}

bool buttonEnabled(HWND dialog, int id) { return IsWindowEnabled(GetDlgItem(dialog, id)) != FALSE; }

bool waitForButtonText(HWND dialog, int id, const char* text, DWORD timeoutMs) {
    for (DWORD waited = 0; waited <= timeoutMs; waited += kStepMs) {
        if (buttonText(dialog, id) == text) return true;
        Sleep(kStepMs);
    }
    return false;
}

bool saveWindowPicture(HWND window, const char* path) {
    RECT r;
    if (!GetWindowRect(window, &r)) return false;
    const int width = r.right - r.left, height = r.bottom - r.top;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, width, height, screen, r.left, r.top, SRCCOPY);
    SelectObject(memory, old);

    BITMAPINFOHEADER info = {};
    info.biSize = sizeof info;
    info.biWidth = width;
    info.biHeight = height;
    info.biPlanes = 1;
    info.biBitCount = 24;
    info.biCompression = BI_RGB;
    const int rowBytes = (width * 3 + 3) & ~3;
    std::vector<BYTE> pixels(static_cast<size_t>(rowBytes) * height);
    GetDIBits(memory, bitmap, 0, height, pixels.data(), reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);

    BITMAPFILEHEADER file = {};
    file.bfType = 0x4D42;
    file.bfOffBits = sizeof file + sizeof info;
    file.bfSize = file.bfOffBits + static_cast<DWORD>(pixels.size());
    FILE* out = fopen(path, "wb");
    if (!out) return false;
    bool ok = fwrite(&file, sizeof file, 1, out) == 1 && fwrite(&info, sizeof info, 1, out) == 1 &&
              fwrite(pixels.data(), pixels.size(), 1, out) == 1;
    fclose(out);
    return ok;
}

}  // namespace drive
