// The plug-in setting file "Default Live setting" beside the host executable:
// "HwLv", the plug-in's maximum persisted size S as 8 bytes, then S bytes of
// the plug-in's own state. The user is never bothered: a file that cannot be
// used leaves the plug-in with the state it has, and a file that cannot be
// written is traced.
// - Saving writes the file beside the old one and then puts it in its place,
//   so a crash while saving leaves the previous state whole. The state block
//   copied is bounded by what the capture really holds.
// - Loading checks the size against the plug-in's and the file's own size
//   before it allocates anything.
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "entry/entry.h"
#include "platform/platform.h"
#include "tracelog/trace.h"
#include "ui/dialogs.h"

namespace {

const char kMagic[4] = {'H', 'w', 'L', 'v'};
const int kHeaderBytes = 12;
const char kNewSuffix[] = ".new";

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

// A memory stream over a block of exactly bytes, freed with the stream.
IStream* streamOfSize(DWORD bytes) {
    HGLOBAL memory = platform().globalAlloc(GMEM_MOVEABLE, bytes ? bytes : 1);
    if (!memory) return nullptr;
    IStream* stream = nullptr;
    if (FAILED(CreateStreamOnHGlobal(memory, TRUE, &stream))) {
        GlobalFree(memory);
        return nullptr;
    }
    return stream;
}

// The bytes the stream's memory really holds.
DWORD streamBytes(IStream* stream) {
    STATSTG status = {};
    if (FAILED(stream->Stat(&status, STATFLAG_NONAME))) return 0;
    return status.cbSize.HighPart ? MAXDWORD : status.cbSize.LowPart;
}

bool writeZeros(HANDLE file, DWORD bytes) {
    static const char zeros[4096] = {};
    for (DWORD part; bytes > 0; bytes -= part) {
        part = bytes < sizeof zeros ? bytes : sizeof zeros;
        if (!writeBytes(file, zeros, part)) return false;
    }
    return true;
}

// Magic, the size the plug-in states now, and a state block of that size:
// what the capture holds, then zeros for a plug-in that grew meanwhile.
bool writeSettingBody(HANDLE file, IBaseFilter* plugin, IStream* state) {
    ULARGE_INTEGER size = {};
    IPersistStream* persist = persistenceOf(plugin, size);
    if (persist) persist->Release();
    uint64_t sizeField = size.QuadPart;
    const DWORD held = streamBytes(state);
    const DWORD captured = size.LowPart < held ? size.LowPart : held;
    return writeBytes(file, kMagic, 4) && writeBytes(file, &sizeField, 8) &&
           copyStreamMemory(state, file, captured, true) && writeZeros(file, size.LowPart - captured);
}

// Writes the new file beside the old one, then replaces it.
void writeSettingFile(const char* path, IBaseFilter* plugin, IStream* state) {
    char written[256 + sizeof kNewSuffix];
    snprintf(written, sizeof written, "%s%s", path, kNewSuffix);
    HANDLE file = CreateFileA(written, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        TRACE(TRACE_WARNING, "The plug-in setting file %s cannot be created (error %lu)", written, GetLastError());
        return;
    }
    bool complete = writeSettingBody(file, plugin, state) && FlushFileBuffers(file);
    CloseHandle(file);
    if (complete && MoveFileExA(written, path, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return;
    TRACE(TRACE_WARNING, "The plug-in setting file %s could not be written (error %lu)", path, GetLastError());
    DeleteFileA(written);
}

// Whether the file still holds a state block of size bytes after its header.
bool fileHolds(HANDLE file, DWORD size) {
    LARGE_INTEGER bytes = {};
    return GetFileSizeEx(file, &bytes) && bytes.QuadPart - kHeaderBytes >= static_cast<LONGLONG>(size);
}

// Reads the state block of a file whose header has been read, once the size
// is the plug-in's own and the file holds it; nothing is allocated before.
SettingFileResult loadStateBlock(IBaseFilter* plugin, HANDLE file, uint64_t sizeField) {
    // Only the low 32 bits of the size count.
    const DWORD size = static_cast<uint32_t>(sizeField);
    ULARGE_INTEGER current = {};
    IPersistStream* persist = persistenceOf(plugin, current);
    if (!persist) return SETTING_REFUSED;
    SettingFileResult result = SETTING_OTHER_SIZE;
    if (current.LowPart == size) {
        IStream* stream = fileHolds(file, size) ? streamOfSize(size) : nullptr;
        if (!stream || !copyStreamMemory(stream, file, size, false))
            result = SETTING_UNREADABLE;
        else
            result = SUCCEEDED(persist->Load(stream)) ? SETTING_LOADED : SETTING_REFUSED;
        if (stream) stream->Release();
    }
    persist->Release();
    return result;
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
    SettingFileResult result = loadStateBlock(plugin, file, sizeField);
    CloseHandle(file);
    return result;
}
