// How it works
// - showHostDialog commits every page to the plug-in once, then runs the
//   "PROPERTY" template modally with hostDialogProc. All of it runs on the
//   caller's thread; the embedded page's window lives in the same loop.
// - WM_INITDIALOG embeds the first page (sizes and centres the window for it),
//   refreshes the RUN / STOP button from the run state and starts a one-shot
//   500 ms timer that posts the first-start command.
// - Exit, Escape and the close box stop the engine, shut it down, apply and
//   release the page and end the dialog with 1.
// - While a start or stop runs (its message boxes have no owner), the dialog
//   is disabled and ignores its commands, so nothing re-enters the run
//   control or ends the dialog under it.
#include "ui/hostdialog.h"

#include <ocidl.h>
#include <olectl.h>

#include "engine/engine.h"
#include "platform/platform.h"
#include "tracelog/trace.h"
#include "ui/dialogs.h"
#include "ui/resource.h"

namespace {

const char* const kHostCaption = "Harnwick soundcard loopback host";
const int kCaptionBytes = 250;
const UINT_PTR kFirstStartTimer = 1;
const UINT kFirstStartDelayMs = 500;

// The one host dialog's state.
struct HostDialog {
    IBaseFilter* plugin = nullptr;
    CAUUID pages = {0, nullptr};
    IPropertyPage* page = nullptr;  // the embedded first page, or none
    RECT pageRect = {0, 0, 0, 0};
    bool busy = false;  // a start or stop is in progress
};
HostDialog g_host;

void freePages(CAUUID& pages) {
    CoTaskMemFree(pages.pElems);
    pages = CAUUID{0, nullptr};
}

// Replaces the page list with the plug-in's current one; false when it has none to offer.
bool refreshPageList() {
    ISpecifyPropertyPages* specify = nullptr;
    if (FAILED(g_host.plugin->QueryInterface(IID_ISpecifyPropertyPages, reinterpret_cast<void**>(&specify))))
        return false;
    CAUUID pages = {0, nullptr};
    HRESULT hr = specify->GetPages(&pages);
    specify->Release();
    if (FAILED(hr)) return false;
    freePages(g_host.pages);
    g_host.pages = pages;
    return true;
}

IPropertyPage* createPage(const CLSID& pageClass) {
    IPropertyPage* page = nullptr;
    if (FAILED(CoCreateInstance(pageClass, nullptr, CLSCTX_INPROC_SERVER, IID_IPropertyPage,
                                reinterpret_cast<void**>(&page)))) {
        TRACE(TRACE_WARNING, "A property page of the plug-in could not be created");
        return nullptr;
    }
    IUnknown* object = g_host.plugin;
    page->SetObjects(1, &object);
    return page;
}

void freePageInfo(PROPPAGEINFO& info) {
    CoTaskMemFree(info.pszTitle);
    CoTaskMemFree(info.pszDocString);
    CoTaskMemFree(info.pszHelpFile);
}

// Creates each page, binds it to the plug-in, applies it and lets it go.
// withInfo also asks each page for its information; returns the first page's height.
int commitPages(bool withInfo) {
    int firstHeight = 0;
    for (ULONG i = 0; i < g_host.pages.cElems; ++i) {
        IPropertyPage* page = createPage(g_host.pages.pElems[i]);
        if (!page) continue;
        page->Apply();
        if (withInfo) {
            PROPPAGEINFO info = {};
            info.cb = sizeof info;
            if (SUCCEEDED(page->GetPageInfo(&info))) {
                if (i == 0) firstHeight = info.size.cy;
                freePageInfo(info);
            }
        }
        page->Release();
    }
    return firstHeight;
}

void placeWindow(HWND dialog, int pageHeight) {
    RECT window;
    GetWindowRect(dialog, &window);
    int height = pageHeight + 100;
    if (height < 100) height = 100;
    const int width = window.right - window.left;
    const int x = GetSystemMetrics(SM_CXSCREEN) / 2 - width / 2;
    const int y = GetSystemMetrics(SM_CYSCREEN) / 2 - height / 2;
    MoveWindow(dialog, x, y, width, height, TRUE);
}

void setCaption(HWND dialog, const WCHAR* documentString) {
    char caption[kCaptionBytes] = {};
    // A document string too long for the caption is cut to fit.
    if (documentString && WideCharToMultiByte(CP_ACP, 0, documentString, -1, caption, kCaptionBytes, nullptr,
                                              nullptr) == 0)
        caption[kCaptionBytes - 1] = '\0';
    SetWindowTextA(dialog, documentString ? caption : kHostCaption);
}

// Embeds the first page: size the window for the height the page pass saw,
// set the caption from the page's document string, activate it.
void embedFirstPage(HWND dialog, int firstHeight) {
    IPropertyPage* page = g_host.pages.cElems ? createPage(g_host.pages.pElems[0]) : nullptr;
    if (!page) {
        EnableWindow(GetDlgItem(dialog, IDC_HOST_HELP), FALSE);
        return;
    }
    g_host.page = page;
    PROPPAGEINFO info = {};
    info.cb = sizeof info;
    page->GetPageInfo(&info);
    placeWindow(dialog, firstHeight);
    g_host.pageRect = RECT{20, 65, info.size.cx + 40, info.size.cy + 65};
    setCaption(dialog, info.pszDocString);
    freePageInfo(info);
    page->Activate(dialog, &g_host.pageRect, FALSE);
}

void refreshRunButton(HWND dialog) {
    HWND run = GetDlgItem(dialog, IDC_HOST_RUN_STOP);
    switch (runState()) {
    case RUN_STATE_STOPPED:
        SetWindowTextA(run, "Run!");
        EnableWindow(GetDlgItem(dialog, IDC_HOST_SETTINGS), TRUE);
        break;
    case RUN_STATE_RUNNING:
        SetWindowTextA(run, "Stop!");
        EnableWindow(GetDlgItem(dialog, IDC_HOST_SETTINGS), FALSE);
        break;
    default:
        EnableWindow(run, FALSE);
        break;
    }
}

// Runs a start or stop with the dialog closed to the user's input.
template <typename Call>
void whileBusy(HWND dialog, Call call) {
    g_host.busy = true;
    EnableWindow(dialog, FALSE);
    call();
    EnableWindow(dialog, TRUE);
    g_host.busy = false;
}

void onRunStop(HWND dialog) {
    switch (runState()) {
    case RUN_STATE_RUNNING:
        whileBusy(dialog, [] { stopProcessing(); });
        break;
    case RUN_STATE_STOPPED:
        whileBusy(dialog, [dialog] { startProcessing(dialog); });
        break;
    default:
        showMessage(dialog, "Unknown error while trying to start or stop the soundcard.\nPlease restart Harnwick Live.",
                    "Harnwick Live", MB_OK);
        break;
    }
    SendMessageA(dialog, WM_COMMAND, IDC_HOST_REFRESH_RUN, 0);
}

void onExit(HWND dialog) {
    whileBusy(dialog, [] {
        stopProcessing();
        shutdownProcessing();
    });
    if (g_host.page) {
        g_host.page->Apply();
        g_host.page->Deactivate();
        g_host.page->Release();
        g_host.page = nullptr;
    }
    EndDialog(dialog, 1);
}

BOOL onInitDialog(HWND dialog) {
    int firstHeight = 0;
    if (refreshPageList()) firstHeight = commitPages(true);
    embedFirstPage(dialog, firstHeight);
    SendMessageA(dialog, WM_COMMAND, IDC_HOST_REFRESH_RUN, 0);
    SetTimer(dialog, kFirstStartTimer, kFirstStartDelayMs, nullptr);
    return TRUE;
}

// Returns what the dialog procedure answers for the command.
BOOL onCommand(HWND dialog, WPARAM command) {
    if (g_host.busy && command != IDC_HOST_REFRESH_RUN) {
        // The first-start check waits for the start or stop to end.
        if (command == IDC_HOST_FIRST_START) SetTimer(dialog, kFirstStartTimer, kFirstStartDelayMs, nullptr);
        return TRUE;
    }
    switch (command) {
    case IDC_HOST_RUN_STOP:
        onRunStop(dialog);
        return FALSE;
    case IDC_HOST_SETTINGS:
        showSoundcardDialog(dialog);
        return FALSE;
    case IDC_HOST_HELP:
        openHelpDocument(dialog, "manual_live.pdf");
        return FALSE;
    case IDOK:
    case IDCANCEL:
        onExit(dialog);
        return TRUE;
    case IDC_HOST_REFRESH_RUN:
        refreshRunButton(dialog);
        return FALSE;
    case IDC_HOST_FIRST_START:
        firstStartCheck(dialog);
        return FALSE;
    default:
        return TRUE;
    }
}

INT_PTR CALLBACK hostDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
    case WM_INITDIALOG:
        return onInitDialog(dialog);
    case WM_TIMER:
        KillTimer(dialog, kFirstStartTimer);
        PostMessageA(dialog, WM_COMMAND, IDC_HOST_FIRST_START, 0);
        return FALSE;
    case WM_COMMAND:
        return onCommand(dialog, wParam);
    default:
        return FALSE;
    }
}

}  // namespace

bool showHostDialog(IBaseFilter* plugin) {
    g_host.plugin = plugin;
    if (!refreshPageList()) return false;
    commitPages(false);
    INT_PTR result = DialogBoxParamA(moduleInstance(), "PROPERTY", nullptr, hostDialogProc, 0);
    freePages(g_host.pages);
    g_host.plugin = nullptr;
    return result != 0 && result != -1;
}
