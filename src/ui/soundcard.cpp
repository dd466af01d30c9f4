// The soundcard properties dialog. It reads every value when it opens
// (writing back the defaults of out-of-range rate, channels and chunk sizes at
// once), keeps the chosen mode while open, and writes everything on OK, in a
// fixed order, whichever mode is chosen. Cancel writes nothing more.
#include <cstdio>

#include "platform/platform.h"
#include "recording/recording.h"
#include "settings/settings.h"
#include "tracelog/trace.h"
#include "ui/dialogs.h"
#include "ui/resource.h"

const char* const kSoundcardDialogName = "SCARD";

namespace {

// Item value of the entry shown when DirectSound lists no device.
const int kNoDirectSoundDevice = -100;

// The one value the dialog keeps between messages: the sound system chosen
// (one soundcard dialog runs at a time).
bool g_directSoundMode = false;

const int kDirectSoundGroup[] = {
    IDC_SCARD_DX_CHUNK_LABEL, IDC_SCARD_LATENCY_LABEL, IDC_SCARD_ACCELERATED_LABEL, IDC_SCARD_OWN_THREAD_LABEL,
    IDC_SCARD_DX_CHUNK,       IDC_SCARD_LATENCY_MS,    IDC_SCARD_ACCELERATED,       IDC_SCARD_OWN_THREAD,
    IDC_SCARD_DX_CHUNK_UNIT,  IDC_SCARD_LATENCY_UNIT,  IDC_SCARD_DX_OUT,            IDC_SCARD_DX_IN,
    IDC_SCARD_DX_OUT_LABEL,   IDC_SCARD_DX_IN_LABEL,
};

const int kLegacyGroup[] = {
    IDC_SCARD_LEGACY_CHUNK_LABEL, IDC_SCARD_LEGACY_CHUNK, IDC_SCARD_LEGACY_CHUNK_UNIT, IDC_SCARD_LEGACY_OUT,
    IDC_SCARD_LEGACY_IN,          IDC_SCARD_LEGACY_IN_LABEL, IDC_SCARD_LEGACY_OUT_LABEL,
};

void setNumber(HWND dialog, int id, int value) { SetDlgItemInt(dialog, id, static_cast<UINT>(value), TRUE); }

int numberOf(HWND dialog, int id) {
    BOOL converted = FALSE;
    return static_cast<int>(GetDlgItemInt(dialog, id, &converted, TRUE));
}

bool ticked(HWND dialog, int id) { return IsDlgButtonChecked(dialog, id) == BST_CHECKED; }

void tick(HWND dialog, int id, bool on) { CheckDlgButton(dialog, id, on ? BST_CHECKED : BST_UNCHECKED); }

// Reads an integer setting; below the minimum, uses the default and stores it.
int readWithDefault(const char* name, int minimum, int fallback) {
    int value = readSettingInt(name);
    if (value >= minimum) return value;
    writeSettingInt(name, fallback);
    return fallback;
}

void appendEntry(HWND list, const char* text, int value) {
    LRESULT item = SendMessageA(list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text));
    if (item >= 0) SendMessageA(list, CB_SETITEMDATA, static_cast<WPARAM>(item), value);
}

// One direction of the legacy wave API, as far as the lists need it.
struct LegacyDevices {
    UINT (*count)();
    bool (*name)(UINT_PTR deviceId, char* name);  // name holds MAXPNAMELEN bytes
};

bool waveInName(UINT_PTR deviceId, char* name) {
    WAVEINCAPSA caps = {};
    if (platform().waveInGetDevCapsA(deviceId, &caps, sizeof caps) != MMSYSERR_NOERROR) return false;
    lstrcpynA(name, caps.szPname, MAXPNAMELEN);
    return true;
}

bool waveOutName(UINT_PTR deviceId, char* name) {
    WAVEOUTCAPSA caps = {};
    if (platform().waveOutGetDevCapsA(deviceId, &caps, sizeof caps) != MMSYSERR_NOERROR) return false;
    lstrcpynA(name, caps.szPname, MAXPNAMELEN);
    return true;
}

UINT waveInCount() { return platform().waveInGetNumDevs(); }
UINT waveOutCount() { return platform().waveOutGetNumDevs(); }

const LegacyDevices kLegacyInput = {waveInCount, waveInName};
const LegacyDevices kLegacyOutput = {waveOutCount, waveOutName};

// The wave mapper first, then every device; an entry's value is its position.
void fillLegacyList(HWND list, const LegacyDevices& devices, const char* setting) {
    UINT count = devices.count();
    if (count == 0) return;
    for (int position = 0; position <= static_cast<int>(count); ++position) {
        UINT_PTR deviceId = position == 0 ? static_cast<UINT_PTR>(WAVE_MAPPER) : static_cast<UINT_PTR>(position - 1);
        char name[MAXPNAMELEN];
        if (!devices.name(deviceId, name)) {
            // Keep the entry so that positions still match the device ids.
            TRACE(TRACE_WARNING, "No capabilities for wave device %d of list %s", position - 1, setting);
            snprintf(name, sizeof name, "Device %d (not available)", position - 1);
        }
        appendEntry(list, name, position);
    }
    SendMessageA(list, CB_SETCURSEL, static_cast<WPARAM>(readSettingInt(setting)), 0);
}

void fillDirectSoundList(HWND list, int (*fill)(HWND), const char* setting) {
    int count = fill(list);
    SendMessageA(list, CB_SETCURSEL, static_cast<WPARAM>(readSettingInt(setting)), 0);
    if (count == 0) appendEntry(list, "<No DirectX capable device>", kNoDirectSoundDevice);
}

void fillDeviceLists(HWND dialog) {
    fillLegacyList(GetDlgItem(dialog, IDC_SCARD_LEGACY_IN), kLegacyInput, "WAVE_IN_DEVICE");
    fillLegacyList(GetDlgItem(dialog, IDC_SCARD_LEGACY_OUT), kLegacyOutput, "WAVE_OUT_DEVICE");
    fillDirectSoundList(GetDlgItem(dialog, IDC_SCARD_DX_OUT), fillPlaybackDeviceList, "DX_OUT_DEVICE");
    fillDirectSoundList(GetDlgItem(dialog, IDC_SCARD_DX_IN), fillCaptureDeviceList, "DX_IN_DEVICE");
}

void initialise(HWND dialog) {
    centreWindow(dialog);
    g_directSoundMode = readSettingFlag("USE_DIRECTX");
    int sampleRate = readWithDefault("srate", 100, 44100);
    int channels = readWithDefault("channels", 1, 2);
    setNumber(dialog, IDC_SCARD_DX_CHUNK, readWithDefault("chunks", 10, 1024));
    setNumber(dialog, IDC_SCARD_LEGACY_CHUNK, readWithDefault("chunks_wave", 10, 512));
    setNumber(dialog, IDC_SCARD_SAMPLE_RATE, sampleRate);
    tick(dialog, IDC_SCARD_STEREO, channels == 2);
    tick(dialog, IDC_SCARD_ACCELERATED, readSettingFlag("PRIMARY"));
    tick(dialog, IDC_SCARD_OWN_THREAD, readSettingFlag("DONT USE WINDOWS DX HANDLER"));
    int resyncSeconds = readSettingInt("resync second");
    setNumber(dialog, IDC_SCARD_RESYNC_SECONDS, resyncSeconds <= 0 ? 1 : resyncSeconds);  // shown, not stored
    setNumber(dialog, IDC_SCARD_LATENCY_MS, readSettingInt("out lat ms"));
    PostMessageA(dialog, WM_COMMAND, IDC_SCARD_MODE_REFRESH, 0);
    fillDeviceLists(dialog);
    tick(dialog, IDC_SCARD_SAVE_INPUT, readSettingFlag("SAVE_INPUT"));
    tick(dialog, IDC_SCARD_SAVE_OUTPUT, readSettingFlag("SAVE_OUTPUT"));
}

void enableGroup(HWND dialog, const int* ids, size_t count, bool enabled) {
    for (size_t i = 0; i < count; ++i) EnableWindow(GetDlgItem(dialog, ids[i]), enabled);
}

void refreshMode(HWND dialog) {
    tick(dialog, IDC_SCARD_DX_MODE, g_directSoundMode);
    tick(dialog, IDC_SCARD_LEGACY_MODE, !g_directSoundMode);
    enableGroup(dialog, kDirectSoundGroup, sizeof kDirectSoundGroup / sizeof *kDirectSoundGroup, g_directSoundMode);
    enableGroup(dialog, kLegacyGroup, sizeof kLegacyGroup / sizeof *kLegacyGroup, !g_directSoundMode);
}

void chooseMode(HWND dialog, bool directSound) {
    g_directSoundMode = directSound;
    PostMessageA(dialog, WM_COMMAND, IDC_SCARD_MODE_REFRESH, 0);
}

// A save box just ticked needs somewhere to write: ask for a directory at once.
void saveBoxClicked(HWND dialog, int id) {
    if (ticked(dialog, id) && !outputDirectory(nullptr)) browseForOutputDirectory(dialog);
}

void storeInt(const char* name, int value) {
    writeSettingInt(name, value);
    TRACE(TRACE_DETAIL, "Soundcard dialog stored %s = %d", name, value);
}

void storeFlag(const char* name, bool value) {
    writeSettingFlag(name, value);
    TRACE(TRACE_DETAIL, "Soundcard dialog stored %s = %s", name, value ? "TRUE" : "FALSE");
}

// A list without a selection leaves its stored device alone.
void storeSelection(HWND dialog, int listId, const char* setting) {
    HWND list = GetDlgItem(dialog, listId);
    LRESULT selected = SendMessageA(list, CB_GETCURSEL, 0, 0);
    if (selected == CB_ERR) return;
    storeInt(setting, static_cast<int>(SendMessageA(list, CB_GETITEMDATA, static_cast<WPARAM>(selected), 0)));
}

void storeAll(HWND dialog) {
    storeSelection(dialog, IDC_SCARD_LEGACY_OUT, "WAVE_OUT_DEVICE");
    storeSelection(dialog, IDC_SCARD_LEGACY_IN, "WAVE_IN_DEVICE");
    storeSelection(dialog, IDC_SCARD_DX_OUT, "DX_OUT_DEVICE");
    storeSelection(dialog, IDC_SCARD_DX_IN, "DX_IN_DEVICE");

    // No range checks here: the readers apply the valid ranges when they use the values.
    storeInt("resync second", numberOf(dialog, IDC_SCARD_RESYNC_SECONDS));
    storeInt("out lat ms", numberOf(dialog, IDC_SCARD_LATENCY_MS));
    storeFlag("DONT USE WINDOWS DX HANDLER", ticked(dialog, IDC_SCARD_OWN_THREAD));
    storeInt("srate", numberOf(dialog, IDC_SCARD_SAMPLE_RATE));
    storeInt("chunks_wave", numberOf(dialog, IDC_SCARD_LEGACY_CHUNK));
    storeInt("chunks", numberOf(dialog, IDC_SCARD_DX_CHUNK));
    storeInt("channels", ticked(dialog, IDC_SCARD_STEREO) ? 2 : 1);
    storeFlag("PRIMARY", ticked(dialog, IDC_SCARD_ACCELERATED));
    storeFlag("USE_DIRECTX", g_directSoundMode);
    storeFlag("SAVE_INPUT", ticked(dialog, IDC_SCARD_SAVE_INPUT));
    storeFlag("SAVE_OUTPUT", ticked(dialog, IDC_SCARD_SAVE_OUTPUT));
    // The dialog offers no resampling control; the legacy path runs at the processing rate.
    storeFlag("DONT RESAMPLE", true);
}

INT_PTR command(HWND dialog, WPARAM id) {
    switch (id) {
    case IDC_SCARD_MODE_REFRESH:
        refreshMode(dialog);
        return FALSE;
    case IDC_SCARD_DX_MODE:
        chooseMode(dialog, true);
        return FALSE;
    case IDC_SCARD_LEGACY_MODE:
        chooseMode(dialog, false);
        return FALSE;
    case IDC_SCARD_SAVE_INPUT:
    case IDC_SCARD_SAVE_OUTPUT:
        saveBoxClicked(dialog, static_cast<int>(id));
        return FALSE;
    case IDC_SCARD_DISK_OPTIONS:
        showDiskOptionsDialog(dialog);
        return FALSE;
    case IDC_SCARD_QUICK_HELP:
        runWizard(dialog);
        return FALSE;
    case IDOK:
        storeAll(dialog);
        EndDialog(dialog, 1);
        return TRUE;
    case IDCANCEL:
        EndDialog(dialog, 0);
        return TRUE;
    default:
        return TRUE;
    }
}

}  // namespace

INT_PTR CALLBACK soundcardDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM /*lParam*/) {
    switch (message) {
    case WM_INITDIALOG:
        initialise(dialog);
        return TRUE;
    case WM_COMMAND:
        // Full wParam: edit and list notifications (non-zero high word) are not commands here.
        return command(dialog, wParam);
    default:
        return FALSE;
    }
}

INT_PTR showSoundcardDialog(HWND owner) { return runDialog(kSoundcardDialogName, owner, soundcardDialogProc); }
