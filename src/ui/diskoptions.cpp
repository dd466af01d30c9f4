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
const int kDirectoryBytes = 256;

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

// The shell's part of browsing: the chosen item list, or null when the user
// cancelled or the shell dialog faulted (then the user has been told).
PIDLIST_ABSOLUTE askShellForFolder(HWND owner, char* displayName) {
    BROWSEINFOA info = {};
    info.hwndOwner = owner;
    info.pidlRoot = nullptr;  // the whole namespace
    info.pszDisplayName = displayName;
    info.lpszTitle = "Choose output directory";
    info.ulFlags = BIF_RETURNONLYFSDIRS | BIF_RETURNFSANCESTORS;
    try {
        return platform().shBrowseForFolderA(&info);
    } catch (...) {
        TRACE(TRACE_ERROR, "Fault inside the folder browser");
        showMessage(owner, "An exception has occured while browsing for a folder.\nPlease contact the vendor!",
                    kMessageCaption, MB_OK | MB_ICONERROR);
        return nullptr;
    }
}

}  // namespace

void browseForOutputDirectory(HWND owner) {
    IMalloc* pMalloc = nullptr;
    if (FAILED(SHGetMalloc(&pMalloc)) || !pMalloc) {
        TRACE(TRACE_ERROR, "SHGetMalloc failed");
        showMessage(owner, kNoDirectoryMessage, kMessageCaption, MB_OK | MB_ICONERROR);
        return;
    }
    char displayName[kDirectoryBytes] = {};
    char path[kDirectoryBytes] = {};
    PIDLIST_ABSOLUTE items = askShellForFolder(owner, displayName);
    bool resolved = items && platform().shGetPathFromIDListA(items, path);
    if (items && !resolved) {
        TRACE(TRACE_ERROR, "SHGetPathFromIDListA failed for the chosen folder");
        showMessage(owner, kNoDirectoryMessage, kMessageCaption, MB_OK | MB_ICONERROR);
    }
    if (items) pMalloc->Free(items);
    pMalloc->Release();
    // Stored as the shell gives it; the output-directory lookup adds the backslash.
    if (resolved) writeSettingText("DISK_OUTPUT_DIRECTORY", path);
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
