#include "settings/settings.h"

#include <cstdio>
#include <cstring>

#include "platform/platform.h"
#include "tracelog/trace.h"

const char* const kSettingsKey = "SOFTWARE\\Quillmark Labs\\Harnwick Live\\Settings";

namespace {

LONG writeFailureTold = 0;

// A refused write would otherwise lose the user's settings without a word (a
// standard user without write access to the key, as when running from the
// zip): say so once per process, naming the key; later failures go unsaid.
void tellWriteFailureOnce(LONG error) {
    if (InterlockedExchange(&writeFailureTold, 1)) return;
    char text[512];
    snprintf(text, sizeof text,
             "Harnwick Live cannot save its settings: writing to the registry key\n"
             "HKEY_LOCAL_MACHINE\\%s\nwas refused (error %ld).\n\n"
             "Changes to the settings will not be kept. Ask an administrator to give you write access to this "
             "key, or install Harnwick Live with its setup program.",
             kSettingsKey, long(error));
    showMessage(nullptr, text, "Harnwick Live", MB_OK | MB_ICONWARNING);
}

}  // namespace

void readSettingText(const char* name, char* buffer) {
    memset(buffer, 0, kSettingTextBytes + 1);
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSettingsKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return;
    // Room for 255 bytes of text and the stored terminator.
    DWORD length = kSettingTextBytes + 1;
    LONG result = RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(buffer), &length);
    RegCloseKey(key);
    // Too long (ERROR_MORE_DATA, or 256 bytes without a terminator) or unreadable:
    // read as missing rather than as a cut-off path or number.
    if (result != ERROR_SUCCESS || buffer[kSettingTextBytes] != '\0') memset(buffer, 0, kSettingTextBytes + 1);
}

std::string readSettingText(const char* name) {
    char buffer[kSettingTextBytes + 1];
    readSettingText(name, buffer);
    return buffer;
}

int readSettingInt(const char* name) {
    char buffer[kSettingTextBytes + 1];
    readSettingText(name, buffer);
    int value = 0;
    if (sscanf(buffer, "%d", &value) != 1) return 0;
    return value;
}

bool readSettingFlag(const char* name) {
    char buffer[kSettingTextBytes + 1];
    readSettingText(name, buffer);
    return strcmp(buffer, "TRUE") == 0;
}

void writeSettingText(const char* name, const char* text) {
    HKEY key;
    DWORD disposition;
    LONG error = RegCreateKeyExA(HKEY_LOCAL_MACHINE, kSettingsKey, 0, nullptr, REG_OPTION_NON_VOLATILE,
                                 KEY_SET_VALUE, nullptr, &key, &disposition);
    if (error == ERROR_SUCCESS) {
        error = platform().regSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                                          static_cast<DWORD>(strlen(text) + 1));
        RegCloseKey(key);
    }
    // The caller goes on either way: the next read gives the old value.
    if (error == ERROR_SUCCESS) return;
    TRACE(TRACE_WARNING, "Setting \"%s\" not stored: registry error %ld", name, long(error));
    tellWriteFailureOnce(error);
}

void writeSettingInt(const char* name, int value) {
    char text[16];
    snprintf(text, sizeof text, "%d", value);
    writeSettingText(name, text);
}

void writeSettingFlag(const char* name, bool value) { writeSettingText(name, value ? "TRUE" : "FALSE"); }

int readSampleRate() {
    int rate = readSettingInt("srate");
    return rate < 100 ? 44100 : rate;
}

int readChannels() {
    // The stream buffers and media samples are sized for at most stereo.
    int channels = readSettingInt("channels");
    return channels < 1 || channels > 2 ? 2 : channels;
}
