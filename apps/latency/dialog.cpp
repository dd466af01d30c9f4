// The latency check's dialog.
//
// Measure starts a worker thread that runs the whole measurement and posts
// its result back (kResultMessage, the result on the heap as lParam). While it
// runs, Measure is disabled and the result field says what is happening.
// Close during a measurement sets the cancel flag and ends the dialog when
// the worker has reported, so the devices are always closed first.
#include <atomic>

#include "latency.h"
#include "latencyres.h"
#include "platform/platform.h"

namespace {

const UINT kResultMessage = WM_APP + 1;

struct DialogState {
    HWND dialog = nullptr;
    HANDLE worker = nullptr;
    std::atomic<bool> cancel{false};
    bool closing = false;
};

DWORD WINAPI measureWorker(LPVOID context) {
    auto* state = static_cast<DialogState*>(context);
    auto* result = new LatencyResult(measureLatency(state->dialog, &state->cancel));
    PostMessageA(state->dialog, kResultMessage, 0, reinterpret_cast<LPARAM>(result));
    return 0;
}

void startMeasuring(DialogState& state) {
    if (state.worker) return;
    state.cancel = false;
    EnableWindow(GetDlgItem(state.dialog, IDC_LATENCY_MEASURE), FALSE);
    SetDlgItemTextA(state.dialog, IDC_LATENCY_RESULT, "Measuring... this takes a few seconds.");
    state.worker = CreateThread(nullptr, 0, measureWorker, &state, 0, nullptr);
    if (!state.worker) {
        EnableWindow(GetDlgItem(state.dialog, IDC_LATENCY_MEASURE), TRUE);
        SetDlgItemTextA(state.dialog, IDC_LATENCY_RESULT, "");
        showMessage(state.dialog, "The measurement could not be started.", "Harnwick Live", MB_OK | MB_ICONERROR);
    }
}

void finishMeasuring(DialogState& state, LatencyResult* result) {
    WaitForSingleObject(state.worker, INFINITE);
    CloseHandle(state.worker);
    state.worker = nullptr;
    SetDlgItemTextA(state.dialog, IDC_LATENCY_RESULT, describeResult(*result).c_str());
    delete result;
    EnableWindow(GetDlgItem(state.dialog, IDC_LATENCY_MEASURE), TRUE);
    if (state.closing) EndDialog(state.dialog, IDCANCEL);
}

void closeDialog(DialogState& state) {
    if (!state.worker) {
        EndDialog(state.dialog, IDCANCEL);
        return;
    }
    state.closing = true;
    state.cancel = true;
    SetDlgItemTextA(state.dialog, IDC_LATENCY_RESULT, "Stopping...");
}

INT_PTR CALLBACK latencyDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* state = reinterpret_cast<DialogState*>(GetWindowLongPtrA(dialog, DWLP_USER));
    switch (message) {
    case WM_INITDIALOG:
        SetWindowLongPtrA(dialog, DWLP_USER, lParam);
        reinterpret_cast<DialogState*>(lParam)->dialog = dialog;
        return TRUE;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDC_LATENCY_MEASURE) startMeasuring(*state);
        if (LOWORD(wParam) == IDCANCEL) closeDialog(*state);
        return TRUE;
    case kResultMessage:
        finishMeasuring(*state, reinterpret_cast<LatencyResult*>(lParam));
        return TRUE;
    }
    return FALSE;
}

}  // namespace

INT_PTR showLatencyDialog(HWND owner) {
    DialogState state;
    return DialogBoxParamA(moduleInstance(), MAKEINTRESOURCEA(IDD_LATENCY), owner, latencyDialogProc,
                           reinterpret_cast<LPARAM>(&state));
}
