// The configuration wizard, the first-start check that shows it, and the
// helpers every dialog of this room shares (running a template, centring).
#include "platform/platform.h"
#include "settings/settings.h"
#include "tracelog/trace.h"
#include "ui/dialogs.h"

const char* const kWizardFirstStartupName = "WIZARD_FIRST_STARTUP";
const char* const kWizardDisclaimerName = "WIZARD_DISCLAIMER";
const char* const kMessageCaption = "Harnwick Live";

INT_PTR runDialog(const char* templateName, HWND owner, DLGPROC procedure) {
    INT_PTR result = DialogBoxParamA(moduleInstance(), templateName, owner, procedure, 0);
    if (result == -1) TRACE(TRACE_ERROR, "Dialog %s could not be created, error %lu", templateName, GetLastError());
    return result;
}

void centreWindow(HWND window) {
    RECT frame;
    GetWindowRect(window, &frame);
    int width = frame.right - frame.left;
    int height = frame.bottom - frame.top;
    int x = GetSystemMetrics(SM_CXSCREEN) / 2 - width / 2;
    int y = GetSystemMetrics(SM_CYSCREEN) / 2 - height / 2;
    SetWindowPos(window, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

INT_PTR CALLBACK centredDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM /*lParam*/) {
    switch (message) {
    case WM_INITDIALOG:
        centreWindow(dialog);
        return TRUE;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK) EndDialog(dialog, 1);
        if (LOWORD(wParam) == IDCANCEL) EndDialog(dialog, 0);  // also Escape and the close box
        return TRUE;
    default:
        return FALSE;
    }
}

void runWizard(HWND owner) {
    if (runDialog(kWizardFirstStartupName, owner, centredDialogProc) == 1)
        runDialog(kWizardDisclaimerName, owner, centredDialogProc);
}

void firstStartCheck(HWND owner) {
    // Missing, empty, non-numeric and zero all read as 0: a first start.
    if (readSettingInt("times") == 0) {
        writeSettingText("out lat ms", "20");
        writeSettingText("chunks", "128");
        writeSettingText("PRIMARY", "TRUE");
        TRACE(TRACE_INFO, "First start: starting latency values stored, showing the wizard");
        runWizard(owner);
    }
    writeSettingInt("times", readSettingInt("times") + 1);
}
