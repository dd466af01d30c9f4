// The disk options dialog and the folder browser. The browser stores the
// directory the moment the user confirms it; the dialog stores the file names
// and the take-number option only through "Done", its one way out.
#include <cstring>

#include "platform/platform.h"
#include "recording/recording.h"
#include "settings/settings.h"
#include "tracelog/trace.h"
#include "ui/dialogs.h"
#include "ui/resource.h"

const char* const kDiskOptionsDialogName = "DISK_OPTIONS";

namespace {

// Edit fields hand over at most this many bytes, terminator included.
const int kFileNameBytes = 255;

const char* const kNoDirectoryMessage = "Could not resolve output directory.\nPlease contact the vendor!";

void showDirectoryIfUsable(HWND dialog) {
    char directory[kRecordingPathBytes];
    if (outputDirectory(directory)) SetDlgItemTextA(dialog, IDC_DISK_DIRECTORY, directory);
}

void showFileName(HWND dialog, int id, const char* setting, const char* fallback) {
    std::string name = readSettingText(setting);
    SetDlgItemTextA(dialog, id, name.empty() ? fallback : name.c_str());
    SendDlgItemMessageA(dialog, id, EM_LIMITTEXT, kFileNameBytes - 1, 0);
}

void initialise(HWND dialog) {
    centreWindow(dialog);
    showDirectoryIfUsable(dialog);
    showFileName(dialog, IDC_DISK_OUTPUT_NAME, "SAVE_OUTPUT_FILENAME", "Harnwick Output Signal.wav");
    showFileName(dialog, IDC_DISK_INPUT_NAME, "SAVE_INPUT_FILENAME", "Harnwick Input Signal.wav");
    CheckDlgButton(dialog, IDC_DISK_APPEND_TAKE, readSettingFlag("APPEND_TAKE_NUMBER") ? BST_CHECKED : BST_UNCHECKED);
}

// Stores a file name field; a name holding a path is refused: the field is
// emptied, the user told, and false returned.
bool storeFileName(HWND dialog, int id, const char* setting) {
    char name[kFileNameBytes] = {};
    GetDlgItemTextA(dialog, id, name, kFileNameBytes);
    if (strchr(name, '\\')) {
        SetDlgItemTextA(dialog, id, "");
        showMessage(dialog, "The filenames must not contain a full path.", kMessageCaption, MB_OK | MB_ICONINFORMATION);
        return false;
    }
    writeSettingText(setting, name);
    return true;
}

bool done(HWND dialog) {
    if (!storeFileName(dialog, IDC_DISK_INPUT_NAME, "SAVE_INPUT_FILENAME")) return false;
    if (!storeFileName(dialog, IDC_DISK_OUTPUT_NAME, "SAVE_OUTPUT_FILENAME")) return false;
    writeSettingFlag("APPEND_TAKE_NUMBER", IsDlgButtonChecked(dialog, IDC_DISK_APPEND_TAKE) == BST_CHECKED);
    EndDialog(dialog, 1);
    return true;
}

// A fault inside the shell's folder browser (a faulty shell extension, say)
// is not a C++ exception. While the browser runs, a top-level exception
// filter catches a fault nobody inside handled and resumes this thread where
// its context was saved just before the call.
struct BrowserFault {
    CONTEXT resume;
    DWORD thread;
    volatile LONG faulted;
};
BrowserFault g_browserFault;

LONG WINAPI resumeAfterBrowserFault(EXCEPTION_POINTERS* info) {
    if (GetCurrentThreadId() != g_browserFault.thread) return EXCEPTION_CONTINUE_SEARCH;
    TRACE(TRACE_ERROR, "Fault 0x%08lx inside the folder browser", info->ExceptionRecord->ExceptionCode);
    g_browserFault.faulted = 1;
    *info->ContextRecord = g_browserFault.resume;
    return EXCEPTION_CONTINUE_EXECUTION;
}

// The shell's browser under the fault guard; faulted tells whether it
// faulted or threw. The guard ends on every way out.
PIDLIST_ABSOLUTE browseGuarded(BROWSEINFOA* info, bool& faulted) {
    volatile PIDLIST_ABSOLUTE items = nullptr;
    g_browserFault.faulted = 0;
    g_browserFault.thread = GetCurrentThreadId();
    LPTOP_LEVEL_EXCEPTION_FILTER previous = SetUnhandledExceptionFilter(resumeAfterBrowserFault);
    RtlCaptureContext(&g_browserFault.resume);
    // A fault resumes here a second time, with faulted set.
    if (!g_browserFault.faulted) {
        try {
            items = platform().shBrowseForFolderA(info);
        } catch (...) {
            TRACE(TRACE_ERROR, "Exception inside the folder browser");
            g_browserFault.faulted = 1;
        }
    }
    SetUnhandledExceptionFilter(previous);
    g_browserFault.thread = 0;
    faulted = g_browserFault.faulted != 0;
    return items;
}

// The shell's part of browsing: the chosen item list, or null when the user
// cancelled or the shell dialog faulted (then the user has been told).
PIDLIST_ABSOLUTE askShellForFolder(HWND owner, char* displayName) {
    BROWSEINFOA info = {};
    info.hwndOwner = owner;
    info.pidlRoot = nullptr;  // the whole namespace
    info.pszDisplayName = displayName;
    info.lpszTitle = "Choose output directory";
    info.ulFlags = BIF_RETURNONLYFSDIRS | BIF_RETURNFSANCESTORS;
    bool faulted = false;
    PIDLIST_ABSOLUTE items = browseGuarded(&info, faulted);
    if (faulted)
        showMessage(owner, "An exception has occured while browsing for a folder.\nPlease contact the vendor!",
                    kMessageCaption, MB_OK | MB_ICONERROR);
    return faulted ? nullptr : items;
}

// Whether the directory setting can hold the path with the backslash the
// output-directory lookup adds; the user is told when it cannot.
bool fitsDirectorySetting(HWND owner, const char* path) {
    const size_t length = strlen(path);
    const size_t needed = length + (length && path[length - 1] == '\\' ? 0 : 1);
    if (needed <= static_cast<size_t>(kSettingTextBytes)) return true;
    TRACE(TRACE_WARNING, "The chosen folder's path has %u characters: too long", static_cast<unsigned>(length));
    showMessage(owner, "The chosen folder's path is too long.\nPlease choose a folder with a shorter path.",
                kMessageCaption, MB_OK | MB_ICONEXCLAMATION);
    return false;
}

}  // namespace

void browseForOutputDirectory(HWND owner) {
    IMalloc* pMalloc = nullptr;
    if (FAILED(SHGetMalloc(&pMalloc)) || !pMalloc) {
        TRACE(TRACE_ERROR, "SHGetMalloc failed");
        showMessage(owner, kNoDirectoryMessage, kMessageCaption, MB_OK | MB_ICONERROR);
        return;
    }
    // The shell writes up to MAX_PATH characters into both.
    char displayName[MAX_PATH] = {};
    char path[MAX_PATH] = {};
    PIDLIST_ABSOLUTE items = askShellForFolder(owner, displayName);
    bool resolved = items && platform().shGetPathFromIDListA(items, path);
    if (items && !resolved) {
        TRACE(TRACE_ERROR, "SHGetPathFromIDListA failed for the chosen folder");
        showMessage(owner, kNoDirectoryMessage, kMessageCaption, MB_OK | MB_ICONERROR);
    }
    if (items) pMalloc->Free(items);
    pMalloc->Release();
    // Stored as the shell gives it; the output-directory lookup adds the backslash.
    if (resolved && fitsDirectorySetting(owner, path)) writeSettingText("DISK_OUTPUT_DIRECTORY", path);
}

INT_PTR CALLBACK diskOptionsDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM /*lParam*/) {
    switch (message) {
    case WM_INITDIALOG:
        initialise(dialog);
        return TRUE;
    case WM_COMMAND:
        if (wParam == IDC_DISK_BROWSE) {
            browseForOutputDirectory(dialog);
            showDirectoryIfUsable(dialog);
            return FALSE;
        }
        if (wParam == IDOK) return done(dialog) ? TRUE : FALSE;
        return TRUE;  // Cancel (Escape, close box) and the rest: the dialog ends only through "Done"
    default:
        return FALSE;
    }
}

void showDiskOptionsDialog(HWND owner) { runDialog(kDiskOptionsDialogName, owner, diskOptionsDialogProc); }
