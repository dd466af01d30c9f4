// The settings store: every option and learned value as named text under one
// registry key. Nothing is cached; each call opens and closes the key. Readers
// apply their own defaults; writes report no failure to their caller, but the
// first refused write of a process tells the user once, naming the key.
//
// Device lookup: turns the stored DirectSound device positions
// ("DX_OUT_DEVICE", "DX_IN_DEVICE") back into device GUIDs, and fills the
// soundcard dialog's device lists with the same enumeration.
#pragma once

#include <windows.h>

#include <string>

// HKEY_LOCAL_MACHINE subkey that holds every value.
extern const char* const kSettingsKey;

// Largest text a read returns, in bytes (the read buffer is one byte larger).
const int kSettingTextBytes = 255;

// Text of the value, empty when the key or value is missing or unreadable.
// A stored text longer than kSettingTextBytes also reads as empty (treated as
// missing: a cut-off path or number would be worse than the reader's default).
std::string readSettingText(const char* name);
// Fills buffer (at least kSettingTextBytes + 1 bytes) instead; never fails.
void readSettingText(const char* name, char* buffer);
// Leading decimal number as "%d" scans it; 0 when there is none.
int readSettingInt(const char* name);
// True only for the exact text "TRUE".
bool readSettingFlag(const char* name);

void writeSettingText(const char* name, const char* text);
void writeSettingInt(const char* name, int value);
void writeSettingFlag(const char* name, bool value);

// The processing format as every reader uses it: "srate" below 100 is 44100,
// "channels" below 1 or above 2 is 2.
int readSampleRate();
int readChannels();

// Result of the last lookup of one direction.
struct DeviceLookup {
    int wantedPosition;
    int counter;
    GUID deviceGuid;  // all zero for the entry reported without a GUID
    bool found;
};

// Looks up "DX_OUT_DEVICE" among DirectSound playback devices.
const DeviceLookup& lookupPlaybackDevice();
// Looks up "DX_IN_DEVICE" among DirectSoundCapture devices.
const DeviceLookup& lookupCaptureDevice();
// Appends every playback (capture) device's description to the combo box,
// with its enumeration position as the item data. Returns the count added.
int fillPlaybackDeviceList(HWND comboBox);
int fillCaptureDeviceList(HWND comboBox);
