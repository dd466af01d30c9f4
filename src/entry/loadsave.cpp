// The plug-in setting file "Default Live setting" beside the host executable:
// "HwLv", the plug-in's maximum persisted size S as 8 bytes, then S bytes of
// the plug-in's own state. Every failure is silent: the plug-in then keeps
// the state it has.
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "entry/entry.h"
#include "ui/dialogs.h"

namespace {

const char kMagic[4] = {'H', 'w', 'L', 'v'};

// The plug-in's persistence interface and its maximum size; 0 when it has none.
IPersistStream* persistenceOf(IBaseFilter* plugin, ULARGE_INTEGER& size) {
    IPersistStream* persist = nullptr;
    if (FAILED(plugin->QueryInterface(IID_IPersistStream, reinterpret_cast<void**>(&persist)))) return nullptr;
    if (FAILED(persist->GetSizeMax(&size))) {
        persist->Release();
        return nullptr;
    }
    return persist;
}

// Captures the plug-in's state into a memory stream of its maximum size.
IStream* captureState(IBaseFilter* plugin) {
    IStream* stream = nullptr;
    if (FAILED(CreateStreamOnHGlobal(nullptr, TRUE, &stream))) return nullptr;
    ULARGE_INTEGER size;
    IPersistStream* persist = persistenceOf(plugin, size);
    bool captured = persist && SUCCEEDED(stream->SetSize(size)) && SUCCEEDED(persist->Save(stream, TRUE));
    if (persist) persist->Release();
    if (!captured) {
        stream->Release();
        return nullptr;
    }
    return stream;
}

bool writeBytes(HANDLE file, const void* data, DWORD bytes) {
    DWORD done = 0;
    return WriteFile(file, data, bytes, &done, nullptr) && done == bytes;
}

bool readBytes(HANDLE file, void* data, DWORD bytes) {
    DWORD done = 0;
    return ReadFile(file, data, bytes, &done, nullptr) && done == bytes;
}

// Copies the stream's memory: at most bytes, into or out of the file.
bool copyStreamMemory(IStream* stream, HANDLE file, DWORD bytes, bool toFile) {
    HGLOBAL memory = nullptr;
    if (FAILED(GetHGlobalFromStream(stream, &memory))) return false;
    void* data = GlobalLock(memory);
    if (!data) return false;
    bool ok = toFile ? writeBytes(file, data, bytes) : readBytes(file, data, bytes);
    GlobalUnlock(memory);
    return ok;
}

// Writes magic, size and state block; write failures are not reported.
void writeSettingFile(const char* path, IBaseFilter* plugin, IStream* state) {
    HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    ULARGE_INTEGER size = {};
    IPersistStream* persist = persistenceOf(plugin, size);
    if (persist) persist->Release();
    uint64_t sizeField = size.QuadPart;
    if (writeBytes(file, kMagic, 4) && writeBytes(file, &sizeField, 8)) copyStreamMemory(state, file, size.LowPart, true);
    CloseHandle(file);
}

}  // namespace

int saveDefaultSetting(IBaseFilter* plugin) {
    char path[256];
    if (!defaultSettingPath(path)) return 0;
    IStream* state = captureState(plugin);
    if (!state) return 0;
    writeSettingFile(path, plugin, state);
    state->Release();
    return 1;
}

int defaultSettingPath(char* path) {
    char folder[kHostDirectoryBytes];
    hostProgramDirectory(folder);
    int length = snprintf(path, 256, "%s\\Default Live setting", folder);
    return length > 0 && length < 256 ? 1 : 0;
}

int loadDefaultSetting(IBaseFilter* plugin) {
    char path[256];
    if (!defaultSettingPath(path)) return 0;
    return loadSettingFile(plugin, path) == SETTING_LOADED ? 1 : 0;
}

SettingFileResult loadSettingFile(IBaseFilter* plugin, const char* path) {
    if (GetFileAttributesA(path) == INVALID_FILE_ATTRIBUTES) return SETTING_MISSING;
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return SETTING_UNREADABLE;
    char magic[4] = {};
    uint64_t sizeField = 0;
    if (!readBytes(file, magic, 4) || memcmp(magic, kMagic, 4) != 0 || !readBytes(file, &sizeField, 8)) {
        CloseHandle(file);
        return SETTING_FOREIGN;
    }
    IStream* stream = nullptr;
    ULARGE_INTEGER size;
    size.QuadPart = static_cast<uint32_t>(sizeField);
    bool read = SUCCEEDED(CreateStreamOnHGlobal(nullptr, TRUE, &stream)) && SUCCEEDED(stream->SetSize(size)) &&
                copyStreamMemory(stream, file, size.LowPart, false);
    CloseHandle(file);
    SettingFileResult result = SETTING_UNREADABLE;
    if (read) {
        ULARGE_INTEGER current;
        IPersistStream* persist = persistenceOf(plugin, current);
        result = SETTING_REFUSED;
        if (persist) {
            if (current.LowPart != size.LowPart)
                result = SETTING_OTHER_SIZE;
            else if (SUCCEEDED(persist->Load(stream)))
                result = SETTING_LOADED;
            persist->Release();
        }
    }
    if (stream) stream->Release();
    return result;
}
