// Device lookup: counts DirectSound's enumeration entries from 0 and either
// records the GUID at the wanted position or appends every entry to a combo
// box. One result per direction, overwritten by each lookup.
#include "platform/platform.h"
#include "settings/settings.h"

namespace {

DeviceLookup g_playback;
DeviceLookup g_capture;

// Enumeration context: the result being filled, or the combo box to fill.
struct EnumContext {
    DeviceLookup* lookup;
    HWND comboBox;
};

BOOL CALLBACK enumerateDevice(LPGUID guid, LPCSTR description, LPCSTR /*module*/, LPVOID context) {
    EnumContext* ctx = static_cast<EnumContext*>(context);
    DeviceLookup& r = *ctx->lookup;
    if (ctx->comboBox) {
        LRESULT item = SendMessageA(ctx->comboBox, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(description));
        if (item >= 0) SendMessageA(ctx->comboBox, CB_SETITEMDATA, item, r.counter);
    } else if (r.counter == r.wantedPosition) {
        if (guid) r.deviceGuid = *guid;
        r.found = true;
    }
    ++r.counter;
    return TRUE;
}

void runEnumeration(HRESULT(WINAPI* enumerate)(LPDSENUMCALLBACKA, LPVOID), DeviceLookup& result, int wanted,
                    HWND comboBox) {
    result.wantedPosition = wanted;
    result.counter = 0;
    result.deviceGuid = GUID{};
    result.found = false;
    EnumContext context = {&result, comboBox};
    enumerate(enumerateDevice, &context);
}

}  // namespace

const DeviceLookup& lookupPlaybackDevice() {
    runEnumeration(platform().directSoundEnumerateA, g_playback, readSettingInt("DX_OUT_DEVICE"), nullptr);
    return g_playback;
}

const DeviceLookup& lookupCaptureDevice() {
    runEnumeration(platform().directSoundCaptureEnumerateA, g_capture, readSettingInt("DX_IN_DEVICE"), nullptr);
    return g_capture;
}

int fillPlaybackDeviceList(HWND comboBox) {
    runEnumeration(platform().directSoundEnumerateA, g_playback, readSettingInt("DX_OUT_DEVICE"), comboBox);
    return g_playback.counter;
}

int fillCaptureDeviceList(HWND comboBox) {
    runEnumeration(platform().directSoundCaptureEnumerateA, g_capture, readSettingInt("DX_IN_DEVICE"), comboBox);
    return g_capture.counter;
}
