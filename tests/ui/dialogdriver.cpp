#include "ui/dialogdriver.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "settings/settings.h"

namespace {

struct Search {
    const char* caption;
    const std::vector<HWND>* except;
    HWND found;
};

BOOL CALLBACK matchWindow(HWND window, LPARAM context) {
    Search& s = *reinterpret_cast<Search*>(context);
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (process != GetCurrentProcessId() || !IsWindowVisible(window)) return TRUE;
    char className[32] = {}, text[256] = {};
    GetClassNameA(window, className, sizeof className);
    GetWindowTextA(window, text, sizeof text);
    if (strcmp(className, "#32770") != 0 || strcmp(text, s.caption) != 0) return TRUE;
    for (HWND skip : *s.except)
        if (skip == window) return TRUE;
    s.found = window;
    return FALSE;
}

// The drain marker: a WM_NULL with this wParam, seen by a message hook on the
// dialog's thread when that thread takes it from its queue.
const WPARAM kDrainMarker = 0x4857;
HANDLE g_drained = CreateEventA(nullptr, FALSE, FALSE, nullptr);

// Whether other posted messages stood behind the marker when it was taken:
// work posted while earlier messages ran (a click posting a refresh) lands
// behind the marker, so one round is not enough.
std::atomic<bool> g_moreQueued{false};

LRESULT CALLBACK watchQueue(int code, WPARAM removal, LPARAM message) {
    const MSG* msg = reinterpret_cast<const MSG*>(message);
    if (code == HC_ACTION && removal == PM_REMOVE && msg->message == WM_NULL && msg->wParam == kDrainMarker) {
        g_moreQueued = HIWORD(GetQueueStatus(QS_POSTMESSAGE)) != 0;
        SetEvent(g_drained);
    }
    return CallNextHookEx(nullptr, code, removal, message);
}

BOOL CALLBACK endOurDialog(HWND window, LPARAM) {
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    char className[32] = {};
    GetClassNameA(window, className, sizeof className);
    if (process == GetCurrentProcessId() && IsWindowVisible(window) && strcmp(className, "#32770") == 0) {
        ADD_FAILURE() << "a dialog was left open by the test";
        EndDialog(window, -2);
        PostMessageA(window, WM_NULL, 0, 0);
    }
    return TRUE;
}

}  // namespace

HWND waitForDialog(const char* caption, const std::vector<HWND>& except, DWORD timeoutMs) {
    DWORD start = GetTickCount();
    for (;;) {
        Search s = {caption, &except, nullptr};
        EnumWindows(matchWindow, reinterpret_cast<LPARAM>(&s));
        if (s.found) {
            drain(s.found);  // let WM_INITDIALOG's posted work finish
            return s.found;
        }
        if (GetTickCount() - start > timeoutMs) {
            ADD_FAILURE() << "no dialog \"" << caption << "\" appeared";
            return nullptr;
        }
        Sleep(10);
    }
}

void drain(HWND dialog) {
    DWORD thread = GetWindowThreadProcessId(dialog, nullptr);
    HHOOK hook = SetWindowsHookExA(WH_GETMESSAGE, watchQueue, nullptr, thread);
    ASSERT_TRUE(hook != nullptr);
    for (int round = 0; round < 20; ++round) {
        ResetEvent(g_drained);
        PostMessageA(dialog, WM_NULL, kDrainMarker, 0);
        if (WaitForSingleObject(g_drained, 10000) != WAIT_OBJECT_0) {
            ADD_FAILURE() << "the dialog's thread did not answer";
            break;
        }
        if (!g_moreQueued) break;
    }
    UnhookWindowsHookEx(hook);
    // The marker is taken before it is dispatched; wait for the dispatch too.
    SendMessageA(dialog, WM_NULL, 0, 0);
}

void press(HWND dialog, int id) {
    PostMessageA(GetDlgItem(dialog, id), BM_CLICK, 0, 0);
}

void pressEscape(HWND dialog) { PostMessageA(dialog, WM_KEYDOWN, VK_ESCAPE, 0); }

void pressCloseBox(HWND dialog) { PostMessageA(dialog, WM_SYSCOMMAND, SC_CLOSE, 0); }

std::string textOf(HWND dialog, int id) {
    char text[512] = {};
    GetDlgItemTextA(dialog, id, text, sizeof text);
    return text;
}

void setText(HWND dialog, int id, const std::string& text) { SetDlgItemTextA(dialog, id, text.c_str()); }

bool isTicked(HWND dialog, int id) { return IsDlgButtonChecked(dialog, id) == BST_CHECKED; }

bool isEnabled(HWND dialog, int id) { return IsWindowEnabled(GetDlgItem(dialog, id)) != FALSE; }

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

INT_PTR driveDialog(const std::function<INT_PTR()>& show, const std::function<void()>& user) {
    std::atomic<bool> returned{false};
    std::thread player([&] {
        user();
        // Give a dialog that is closing a moment, then end whatever is left.
        for (int i = 0; i < 100 && !returned; ++i) Sleep(10);
        if (!returned) EnumWindows(endOurDialog, 0);
    });
    INT_PTR result = show();
    returned = true;
    player.join();
    return result;
}

std::map<std::string, std::string> settingsSnapshot() {
    std::map<std::string, std::string> values;
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSettingsKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return values;
    for (DWORD i = 0;; ++i) {
        char name[256];
        BYTE data[512];
        DWORD nameLength = sizeof name, dataLength = sizeof data - 1, type = 0;
        if (RegEnumValueA(key, i, name, &nameLength, nullptr, &type, data, &dataLength) != ERROR_SUCCESS) break;
        data[dataLength] = 0;
        values[name] = reinterpret_cast<char*>(data);
    }
    RegCloseKey(key);
    return values;
}

bool isCentred(HWND dialog) {
    RECT r;
    GetWindowRect(dialog, &r);
    int width = r.right - r.left, height = r.bottom - r.top;
    return r.left == GetSystemMetrics(SM_CXSCREEN) / 2 - width / 2 &&
           r.top == GetSystemMetrics(SM_CYSCREEN) / 2 - height / 2;
}
