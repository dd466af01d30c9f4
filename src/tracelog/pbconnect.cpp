// Connecting to the viewer's buffer, shutting down and restarting.
//
// Connecting runs once per process (again only after pbRestart), under
// connectLock: read the buffer directory from the viewer's registry key,
// create or open the named mutex and hold it, create the two events, honour
// a pending move of the buffer when no one else has it open, open and size
// the file, map it, check or reset its header, release the mutex. Any
// failure closes what was opened (closeConnection) and disables the client.
#include <cstdio>
#include <cwchar>

#include "tracelog/pbbuffer.h"
#include "tracelog/pbinternal.h"

namespace {

const wchar_t kViewerKey[] = L"SOFTWARE\\Diamond Sierra\\Paul Bunyan";
const wchar_t kDirectoryValue[] = L"IPC buffer directory";
const wchar_t kNextDirectoryValue[] = L"Next IPC buffer directory";
const wchar_t kPreviousDirectoryValue[] = L"Previous IPC buffer directory";
const wchar_t kSizeValue[] = L"IPC buffer size";
const wchar_t kBufferFileName[] = L"PBIPC.pbd";
// The directory may take 498 bytes, which leaves room for "\PBIPC.pbd".
const DWORD kDirectoryBytes = 498;
const DWORD kDefaultBufferBytes = 1000000;
const DWORD kMinBufferBytes = 10000;
const DWORD kMaxBufferBytes = 100000000;

// Named objects and files are open to everyone: a descriptor without DACL.
struct OpenSecurity {
    SECURITY_DESCRIPTOR descriptor;
    SECURITY_ATTRIBUTES attributes;
    OpenSecurity() {
        InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION);
        SetSecurityDescriptorDacl(&descriptor, TRUE, nullptr, FALSE);
        attributes = {sizeof attributes, &descriptor, FALSE};
    }
};

void objectName(wchar_t* out, size_t units, const wchar_t* base) {
    swprintf(out, units, L"%ls%ls", pbClient().globalNames ? L"Global\\" : L"", base);
}

// What connecting found out on the way; decides the header treatment.
struct Progress {
    wchar_t directory[kDirectoryBytes / 2 + 1];
    bool createdLock;
    bool moved;
    bool newFile;
    bool resized;
    bool madeSmaller;
    bool validBefore;  // the header was valid for the size before resizing
    bool heldRecords;
    uint32_t dataOffsetBefore;
};

struct Failure {
    DWORD code;
    DWORD windowsError;
    const wchar_t* detail;
    bool report;
};

// Windows NT family only: these binaries need it. NT 5.0 and later use
// the "Global\" names.
bool detectSystem(Failure* failure) {
    OSVERSIONINFOW info = {};
    info.dwOSVersionInfoSize = sizeof info;
    if (!GetVersionExW(&info) || info.dwPlatformId != VER_PLATFORM_WIN32_NT || info.dwMajorVersion < 4) {
        *failure = {PB_ERR_UNSUPPORTED_SYSTEM, GetLastError(), L"This operating system is not supported.", true};
        return false;
    }
    pbClient().globalNames = info.dwMajorVersion >= 5;
    return true;
}

// Reads a REG_SZ value of at most bufferBytes (terminator included).
LONG readText(HKEY key, const wchar_t* value, wchar_t* out, DWORD bufferBytes) {
    DWORD type = 0;
    DWORD bytes = bufferBytes;
    memset(out, 0, bufferBytes + sizeof(wchar_t));
    LONG result = RegQueryValueExW(key, value, nullptr, &type, reinterpret_cast<BYTE*>(out), &bytes);
    if (result == ERROR_SUCCESS && type != REG_SZ && type != REG_EXPAND_SZ) return ERROR_INVALID_DATA;
    return result;
}

bool readBufferDirectory(Progress* p, Failure* failure) {
    HKEY key;
    LONG result = RegOpenKeyExW(HKEY_LOCAL_MACHINE, kViewerKey, 0, KEY_READ, &key);
    if (result == ERROR_SUCCESS) {
        result = readText(key, kDirectoryValue, p->directory, kDirectoryBytes);
        RegCloseKey(key);
    }
    if (result == ERROR_MORE_DATA) {
        *failure = {PB_ERR_DIRECTORY, DWORD(result), kDirectoryValue, false};
        return false;
    }
    if (result != ERROR_SUCCESS || p->directory[0] == 0) {
        *failure = {PB_ERR_DIRECTORY, DWORD(result), kDirectoryValue, true};
        return false;
    }
    return true;
}

bool waitAcquired(DWORD waitResult) { return waitResult == WAIT_OBJECT_0 || waitResult == WAIT_ABANDONED; }

bool acquireLock(PBConnection* c, Progress* p, const OpenSecurity& security, Failure* failure) {
    wchar_t name[32];
    objectName(name, 32, L"PB_MTX");
    c->lock = CreateMutexW(const_cast<SECURITY_ATTRIBUTES*>(&security.attributes), TRUE, name);
    if (!c->lock) {
        *failure = {PB_ERR_LOCK, GetLastError(), L"PB_MTX", true};
        return false;
    }
    p->createdLock = GetLastError() != ERROR_ALREADY_EXISTS;
    if (!p->createdLock && !waitAcquired(WaitForSingleObject(c->lock, INFINITE))) {
        *failure = {PB_ERR_LOCK, GetLastError(), L"PB_MTX", true};
        CloseHandle(c->lock);
        c->lock = nullptr;
        return false;
    }
    return true;
}

bool createEvents(PBConnection* c, const OpenSecurity& security, Failure* failure) {
    wchar_t name[40];
    SECURITY_ATTRIBUTES* attributes = const_cast<SECURITY_ATTRIBUTES*>(&security.attributes);
    objectName(name, 40, L"PB_EVT_NEW_MSGS");
    c->newMessages = CreateEventW(attributes, FALSE, FALSE, name);
    objectName(name, 40, L"PB_EVT_LOW_MEM");
    c->lowSpace = CreateEventW(attributes, FALSE, FALSE, name);
    if (!c->newMessages || !c->lowSpace) {
        *failure = {PB_ERR_EVENTS, GetLastError(), L"PB_EVT_NEW_MSGS", true};
        return false;
    }
    return true;
}

HANDLE openBufferFile(const wchar_t* directory, bool mayCreate, const OpenSecurity& security, bool* created) {
    wchar_t path[MAX_PATH + 16];
    swprintf(path, MAX_PATH + 16, L"%ls\\%ls", directory, kBufferFileName);
    HANDLE file = CreateFileW(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              const_cast<SECURITY_ATTRIBUTES*>(&security.attributes),
                              mayCreate ? OPEN_ALWAYS : OPEN_EXISTING, FILE_FLAG_RANDOM_ACCESS, nullptr);
    *created = file != INVALID_HANDLE_VALUE && GetLastError() != ERROR_ALREADY_EXISTS;
    return file == INVALID_HANDLE_VALUE ? nullptr : file;
}

void setViewerValue(HKEY key, const wchar_t* value, const wchar_t* text) {
    RegSetValueExW(key, value, 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                   DWORD((wcslen(text) + 1) * sizeof(wchar_t)));
}

// Only the first process to open the buffer honours "Next IPC buffer
// directory": it opens the file there and records the move. An unusable
// value is deleted so the move is not retried at every start.
void openAfterMove(PBConnection* c, Progress* p, const OpenSecurity& security) {
    HKEY key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kViewerKey, 0, KEY_READ | KEY_SET_VALUE, &key) != ERROR_SUCCESS) return;
    wchar_t next[kDirectoryBytes / 2 + 1];
    LONG result = readText(key, kNextDirectoryValue, next, kDirectoryBytes);
    if (result == ERROR_FILE_NOT_FOUND) {
        RegCloseKey(key);
        return;
    }
    DWORD attributes = result == ERROR_SUCCESS ? GetFileAttributesW(next) : INVALID_FILE_ATTRIBUTES;
    bool isDirectory = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
    if (isDirectory) c->file = openBufferFile(next, true, security, &p->newFile);
    if (c->file) {
        setViewerValue(key, kPreviousDirectoryValue, p->directory);
        setViewerValue(key, kDirectoryValue, next);
        wcscpy(p->directory, next);
        p->moved = true;
    } else {
        pbReportError(PB_ERR_NEXT_DIRECTORY, result == ERROR_SUCCESS ? GetLastError() : DWORD(result),
                      kNextDirectoryValue, true);
    }
    RegDeleteValueW(key, kNextDirectoryValue);
    RegCloseKey(key);
}

// "IPC buffer size": 10000 to 100000000 bytes, otherwise (reported) 1000000.
DWORD configuredBufferBytes() {
    HKEY key;
    wchar_t text[32];
    LONG result = ERROR_FILE_NOT_FOUND;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kViewerKey, 0, KEY_READ, &key) == ERROR_SUCCESS) {
        result = readText(key, kSizeValue, text, sizeof text - sizeof(wchar_t));
        RegCloseKey(key);
    }
    if (result == ERROR_FILE_NOT_FOUND) return kDefaultBufferBytes;
    wchar_t* end = nullptr;
    unsigned long long bytes = result == ERROR_SUCCESS ? wcstoull(text, &end, 10) : 0;
    bool number = result == ERROR_SUCCESS && end != text && *end == 0;
    if (!number || bytes < kMinBufferBytes || bytes > kMaxBufferBytes) {
        pbReportError(PB_ERR_BUFFER_SIZE, DWORD(result), kSizeValue, true);
        return kDefaultBufferBytes;
    }
    return DWORD(bytes);
}

uint64_t fileSize(HANDLE file) {
    LARGE_INTEGER size;
    return GetFileSizeEx(file, &size) ? uint64_t(size.QuadPart) : 0;
}

// The first opener sets the file to the configured size, remembering what
// the header said about the old size (the header decides the reset reason).
bool sizeBufferFile(PBConnection* c, Progress* p, Failure* failure) {
    uint64_t oldBytes = fileSize(c->file);
    DWORD wantedBytes = configuredBufferBytes();
    if (oldBytes == wantedBytes) return true;
    uint8_t header[kPBHeaderBytes] = {};
    DWORD read = 0;
    PBHeaderState before = {};
    if (ReadFile(c->file, header, kPBHeaderBytes, &read, nullptr) && read == kPBHeaderBytes)
        p->validBefore = pbReadValidHeader(header, size_t(oldBytes), oldBytes, &before);
    p->heldRecords = p->validBefore && before.writeOffset != 0;
    p->dataOffsetBefore = before.dataOffset;
    LARGE_INTEGER end;
    end.QuadPart = wantedBytes;
    if (!SetFilePointerEx(c->file, end, nullptr, FILE_BEGIN) || !SetEndOfFile(c->file)) {
        *failure = {PB_ERR_FILE_SIZE, GetLastError(), kSizeValue, true};
        return false;
    }
    p->resized = true;
    p->madeSmaller = wantedBytes < oldBytes;
    return true;
}

bool openFile(PBConnection* c, Progress* p, const OpenSecurity& security, Failure* failure) {
    if (p->createdLock) openAfterMove(c, p, security);
    if (!c->file) c->file = openBufferFile(p->directory, p->createdLock, security, &p->newFile);
    if (!c->file) {
        *failure = {PB_ERR_FILE, GetLastError(), p->directory, true};
        return false;
    }
    return !p->createdLock || sizeBufferFile(c, p, failure);
}

bool mapFile(PBConnection* c, const OpenSecurity& security, Failure* failure) {
    wchar_t name[32];
    objectName(name, 32, L"PB_MAP");
    c->fileBytes = fileSize(c->file);
    c->mapping = CreateFileMappingW(c->file, const_cast<SECURITY_ATTRIBUTES*>(&security.attributes), PAGE_READWRITE,
                                    0, 0, name);
    if (c->mapping) c->view = static_cast<uint8_t*>(MapViewOfFile(c->mapping, FILE_MAP_WRITE, 0, 0, 0));
    if (!c->view) {
        *failure = {PB_ERR_MAPPING, GetLastError(), L"PB_MAP", true};
        return false;
    }
    c->viewBytes = pbViewSize(c->view, c->fileBytes);
    if (c->viewBytes < kPBHeaderBytes) {
        *failure = {PB_ERR_MAPPING, ERROR_INVALID_DATA, L"PB_MAP", true};
        return false;
    }
    return true;
}

uint32_t resetReason(const Progress& p, bool headerValid) {
    if (p.moved) return PB_RESET_NONE;
    if (p.newFile) return PB_RESET_NEW_FILE;
    if (!headerValid) return PB_RESET_INVALID_HEADER;
    if (p.madeSmaller && p.heldRecords) return PB_RESET_SHRUNK;
    return PB_RESET_NONE;
}

// Only the first opener repairs the header; a later one leaves it to the
// owner and just wakes the viewer. Records writes stay refused while the
// header is invalid (each write checks it again).
void prepareHeader(PBConnection* c, const Progress& p) {
    PBHeaderState state;
    bool valid = pbReadValidHeader(c->view, c->viewBytes, c->fileBytes, &state);
    if (p.createdLock) {
        bool headerValid = p.resized ? p.validBefore : valid;
        if (p.newFile || !headerValid || p.madeSmaller) {
            uint32_t reason = resetReason(p, headerValid);
            pbResetHeader(c->view, uint32_t(c->fileBytes), reason);
            if (reason != PB_RESET_NONE) SetEvent(c->newMessages);
        } else if (p.resized) {
            pbWritePair(c->view, PB_DATA_SIZE, uint32_t(c->fileBytes) - p.dataOffsetBefore);
        }
        if (pbRead32(c->view + PB_WRITE_OFFSET) != 0) SetEvent(c->newMessages);
        valid = pbReadValidHeader(c->view, c->viewBytes, c->fileBytes, &state);
    } else if (!valid) {
        SetEvent(c->newMessages);
    }
    if (valid) pbWidenVersions(c->view);
}

void closeHandle(HANDLE* handle) {
    if (*handle) CloseHandle(*handle);
    *handle = nullptr;
}

// Releases a connection in reverse order of opening. The lock is released
// by its holder before this.
void closeConnection(PBConnection* c) {
    if (c->view) {
        FlushViewOfFile(c->view, 0);
        UnmapViewOfFile(c->view);
    }
    closeHandle(&c->mapping);
    closeHandle(&c->file);
    closeHandle(&c->lowSpace);
    closeHandle(&c->newMessages);
    closeHandle(&c->lock);
    *c = {};
}

void fillPaths() {
    PBClientState& client = pbClient();
    if (!GetModuleFileNameW(nullptr, client.processPath, 260)) wcscpy(client.processPath, L"Unknown process name");
    HMODULE self = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&fillPaths), &self);
    if (!self || !GetModuleFileNameW(self, client.modulePath, 260)) wcscpy(client.modulePath, L"Unknown module name");
    client.apiComponent = {L"API", L"", TRUE, 0};
    client.apiContext = {L"", TRUE, 0};
}

// The connecting steps; on success the connection is complete and its lock
// is released.
bool connectBuffer(PBConnection* c, Failure* failure) {
    Progress p = {};
    OpenSecurity security;
    if (!detectSystem(failure) || !readBufferDirectory(&p, failure)) return false;
    if (!acquireLock(c, &p, security, failure)) return false;
    // Another thread of this process cannot have connected meanwhile:
    // connecting happens under connectLock.
    bool ok = createEvents(c, security, failure) && openFile(c, &p, security, failure) &&
              mapFile(c, security, failure);
    if (ok) prepareHeader(c, p);
    ReleaseMutex(c->lock);
    return ok;
}

}  // namespace

PBClientState& pbClient() {
    static PBClientState client;
    return client;
}

PBCallGuard::PBCallGuard() {
    PBClientState& client = pbClient();
    client.callsInProgress.fetch_add(1);
    int state = client.state.load();
    active_ = state == PB_NOT_CONNECTED || state == PB_CONNECTED;
}

PBCallGuard::~PBCallGuard() { pbClient().callsInProgress.fetch_sub(1); }

bool pbEnsureConnected() {
    PBClientState& client = pbClient();
    if (client.state.load() == PB_CONNECTED) return true;
    AcquireSRWLockExclusive(&client.connectLock);
    if (client.state.load() == PB_NOT_CONNECTED) {
        fillPaths();
        PBConnection c = {};
        Failure failure = {};
        if (connectBuffer(&c, &failure)) {
            client.connection = c;
            client.state.store(PB_CONNECTED);
        } else {
            closeConnection(&c);
            client.state.store(PB_DISABLED);
            if (failure.report) pbReportError(failure.code, failure.windowsError, failure.detail);
        }
    }
    bool connected = client.state.load() == PB_CONNECTED;
    ReleaseSRWLockExclusive(&client.connectLock);
    return connected;
}

bool pbConnected() { return pbClient().state.load() == PB_CONNECTED; }

void PBShutdown(DWORD waitMs) {
    PBClientState& client = pbClient();
    AcquireSRWLockExclusive(&client.connectLock);
    client.state.store(PB_SHUTTING_DOWN);
    ReleaseSRWLockExclusive(&client.connectLock);
    DWORD startMs = GetTickCount();
    while (client.callsInProgress.load() > 0 && GetTickCount() - startMs < waitMs) Sleep(1);
    // A call still running uses the view: unmapping it now could fault that
    // call, so the connection stays open until a later PBShutdown finds
    // no call left (at worst it ends with the process).
    if (client.callsInProgress.load() > 0) return;
    pbReleaseThreadDefaults();
    PBConnection& c = client.connection;
    if (!c.lock) return;
    bool locked = waitAcquired(WaitForSingleObject(c.lock, waitMs));
    HANDLE lock = c.lock;
    c.lock = nullptr;
    closeConnection(&c);
    if (locked) ReleaseMutex(lock);
    CloseHandle(lock);
}

void pbRestart() {
    PBClientState& client = pbClient();
    AcquireSRWLockExclusive(&client.connectLock);
    int state = client.state.load();
    bool closed = client.connection.lock == nullptr;
    if ((state == PB_SHUTTING_DOWN && closed) || state == PB_DISABLED) client.state.store(PB_NOT_CONNECTED);
    ReleaseSRWLockExclusive(&client.connectLock);
}

PBStatistics pbStatistics() {
    PBClientState& client = pbClient();
    return {client.droppedRecords.load(), client.lockFailures.load(), LONG(client.callsInProgress.load())};
}
