#include "drive.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <thread>

namespace drive {

namespace {

const DWORD kStepMs = 50;

struct Search {
    const char* caption;
    const std::vector<HWND>* except;
    HWND found;
};

BOOL CALLBACK matchCaption(HWND window, LPARAM context) {
    Search& s = *reinterpret_cast<Search*>(context);
    char text[256] = {};
    if (!IsWindowVisible(window) || !GetWindowTextA(window, text, sizeof text) || strcmp(text, s.caption) != 0)
        return TRUE;
    for (HWND skip : *s.except)
        if (skip == window) return TRUE;
    s.found = window;
    return FALSE;
}

// The drain marker: a WM_NULL with this wParam, seen by a message hook on the
// window's thread when that thread takes it from its queue. Work posted while
// earlier messages ran (a click posting a refresh) lands behind the marker,
// so the hook also notes whether anything still waits behind it.
const WPARAM kDrainMarker = 0x4857;
HANDLE g_drained = CreateEventA(nullptr, FALSE, FALSE, nullptr);
std::atomic<bool> g_moreQueued{false};

LRESULT CALLBACK watchQueue(int code, WPARAM removal, LPARAM message) {
    const MSG* msg = reinterpret_cast<const MSG*>(message);
    if (code == HC_ACTION && removal == PM_REMOVE && msg->message == WM_NULL && msg->wParam == kDrainMarker) {
        g_moreQueued = HIWORD(GetQueueStatus(QS_POSTMESSAGE)) != 0;
        SetEvent(g_drained);
    }
    return CallNextHookEx(nullptr, code, removal, message);
}

BOOL CALLBACK endOwnDialog(HWND window, LPARAM context) {
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    char className[32] = {};
    GetClassNameA(window, className, sizeof className);
    if (process == GetCurrentProcessId() && IsWindowVisible(window) && strcmp(className, "#32770") == 0) {
        *reinterpret_cast<bool*>(context) = true;
        EndDialog(window, -2);
        PostMessageA(window, WM_NULL, 0, 0);
    }
    return TRUE;
}

// A 24-bit BMP's rows are padded to whole 32-bit words.
int bmpStride(int width) { return (width * 3 + 3) & ~3; }

}  // namespace

HWND waitForWindow(const char* caption, DWORD timeoutMs, const std::vector<HWND>& except) {
    for (DWORD start = GetTickCount();; Sleep(kStepMs)) {
        Search s = {caption, &except, nullptr};
        EnumWindows(matchCaption, reinterpret_cast<LPARAM>(&s));
        if (s.found) return s.found;
        if (GetTickCount() - start > timeoutMs) return nullptr;
    }
}

bool waitForWindowGone(HWND window, DWORD timeoutMs) {
    for (DWORD start = GetTickCount(); IsWindow(window); Sleep(kStepMs))
        if (GetTickCount() - start > timeoutMs) return false;
    return true;
}

bool drain(HWND window) {
    HHOOK hook = SetWindowsHookExA(WH_GETMESSAGE, watchQueue, nullptr, GetWindowThreadProcessId(window, nullptr));
    if (!hook) return false;
    bool answered = true;
    for (int round = 0; round < 20 && answered; ++round) {
        ResetEvent(g_drained);
        PostMessageA(window, WM_NULL, kDrainMarker, 0);
        answered = WaitForSingleObject(g_drained, 10000) == WAIT_OBJECT_0;
        if (!g_moreQueued) break;
    }
    UnhookWindowsHookEx(hook);
    if (!answered) fprintf(stderr, "drive: the window's thread did not answer\n");
    // The marker is taken before it is dispatched; wait for the dispatch too.
    SendMessageA(window, WM_NULL, 0, 0);
    return answered;
}

void pressButton(HWND dialog, int id) { PostMessageA(GetDlgItem(dialog, id), BM_CLICK, 0, 0); }

void pressEscape(HWND dialog) { PostMessageA(dialog, WM_KEYDOWN, VK_ESCAPE, 0); }

void pressCloseBox(HWND dialog) { PostMessageA(dialog, WM_SYSCOMMAND, SC_CLOSE, 0); }

std::string answerMessageBox(HWND box, int button) {
    // A box can show with its caption before its text is set: the text is
    // read once it is there (every box of ours has one), or after 2 s.
    std::string text = buttonText(box, 0xFFFF);  // a message box's text control
    for (DWORD start = GetTickCount(); text.empty() && GetTickCount() - start < 2000; Sleep(kStepMs))
        text = buttonText(box, 0xFFFF);
    PostMessageA(box, WM_COMMAND, button, 0);
    waitForWindowGone(box, 5000);
    return text;
}

std::string buttonText(HWND dialog, int id) {
    char text[1024] = {};
    DWORD_PTR length = 0;
    SendMessageTimeoutA(GetDlgItem(dialog, id), WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text),
                        SMTO_ABORTIFHUNG, 2000, &length);
    return text;
}

bool buttonEnabled(HWND dialog, int id) { return IsWindowEnabled(GetDlgItem(dialog, id)) != FALSE; }

bool waitForButtonText(HWND dialog, int id, const char* text, DWORD timeoutMs) {
    for (DWORD start = GetTickCount(); buttonText(dialog, id) != text; Sleep(kStepMs))
        if (GetTickCount() - start > timeoutMs) return false;
    return true;
}

void setText(HWND dialog, int id, const std::string& text) { SetDlgItemTextA(dialog, id, text.c_str()); }

bool isTicked(HWND dialog, int id) { return IsDlgButtonChecked(dialog, id) == BST_CHECKED; }

std::vector<ListEntry> listEntries(HWND dialog, int id) {
    std::vector<ListEntry> entries;
    HWND list = GetDlgItem(dialog, id);
    LRESULT count = SendMessageA(list, CB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; ++i) {
        char text[256] = {};
        SendMessageA(list, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(text));
        entries.push_back({text, static_cast<LONG_PTR>(SendMessageA(list, CB_GETITEMDATA, i, 0))});
    }
    return entries;
}

int listSelection(HWND dialog, int id) {
    LRESULT selected = SendDlgItemMessageA(dialog, id, CB_GETCURSEL, 0, 0);
    return selected == CB_ERR ? -1 : static_cast<int>(selected);
}

void selectEntry(HWND dialog, int id, int position) { SendDlgItemMessageA(dialog, id, CB_SETCURSEL, position, 0); }

Picture capture(const RECT& screenRect) {
    Picture p;
    p.width = screenRect.right - screenRect.left;
    p.height = screenRect.bottom - screenRect.top;
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = p.width;
    info.bmiHeader.biHeight = -p.height;  // top row first
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, p.width, p.height, screen, screenRect.left, screenRect.top, SRCCOPY);
    GdiFlush();
    p.bgr.resize(static_cast<size_t>(p.width) * p.height * 3);
    for (int y = 0; y < p.height; ++y)
        memcpy(&p.bgr[static_cast<size_t>(y) * p.width * 3], static_cast<unsigned char*>(bits) + y * bmpStride(p.width),
               p.width * 3);
    SelectObject(memory, old);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return p;
}

bool savePicture(const Picture& p, const char* path) {
    const int stride = bmpStride(p.width);
    BITMAPINFOHEADER header = {};
    header.biSize = sizeof header;
    header.biWidth = p.width;
    header.biHeight = -p.height;
    header.biPlanes = 1;
    header.biBitCount = 24;
    BITMAPFILEHEADER file = {};
    file.bfType = 0x4d42;  // "BM"
    file.bfOffBits = sizeof file + sizeof header;
    file.bfSize = file.bfOffBits + stride * p.height;
    FILE* out = fopen(path, "wb");
    if (!out) return false;
    bool ok = fwrite(&file, sizeof file, 1, out) == 1 && fwrite(&header, sizeof header, 1, out) == 1;
    std::vector<unsigned char> row(stride, 0);
    for (int y = 0; y < p.height && ok; ++y) {
        memcpy(row.data(), &p.bgr[static_cast<size_t>(y) * p.width * 3], p.width * 3);
        ok = fwrite(row.data(), stride, 1, out) == 1;
    }
    return fclose(out) == 0 && ok;
}

bool saveWindowPicture(HWND window, const char* path) {
    RECT r;
    return GetWindowRect(window, &r) && savePicture(capture(r), path);
}

INT_PTR playDialog(const std::function<INT_PTR()>& show, const std::function<void()>& user, bool* leftOpen) {
    std::atomic<bool> returned{false};
    bool ended = false;
    std::thread player([&] {
        user();
        // Give a dialog that is closing a moment, then end whatever is left.
        for (int i = 0; i < 100 && !returned; ++i) Sleep(10);
        if (!returned) EnumWindows(endOwnDialog, reinterpret_cast<LPARAM>(&ended));
    });
    INT_PTR result = show();
    returned = true;
    player.join();
    if (leftOpen) *leftOpen = ended;
    return result;
}

}  // namespace drive
