// traceview: reads the trace-log buffer the way the outside log viewer does
// and prints its records, for developers following the live host's trace.
//
//   traceview              print every record in the buffer
//   traceview -f [-s N]    print them, then follow new records as they come
//                          (waits on the new-messages event; Ctrl+C ends,
//                          or after N seconds)
//   traceview -c           clear the buffer
//   traceview --setup DIR [BYTES]   write the viewer's registry settings so
//                          that programs log into DIR\PBIPC.pbd (DIR is created)
//   traceview --remove     delete those settings again (logging off)
//
// Like the viewer, it owns the buffer while it runs: it creates the named
// mutex, the events and the file (with a fresh header) when they are missing,
// and it touches the buffer only while holding the mutex.
#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

#include "tracelog/pbbuffer.h"

namespace {

const wchar_t kViewerKey[] = L"SOFTWARE\\Diamond Sierra\\Paul Bunyan";
const DWORD kDefaultBufferBytes = 1000000;

struct Buffer {
    HANDLE lock = nullptr;
    HANDLE newMessages = nullptr;
    HANDLE lowSpace = nullptr;
    HANDLE file = nullptr;
    HANDLE mapping = nullptr;
    uint8_t* view = nullptr;
    uint64_t fileBytes = 0;
    size_t viewBytes = 0;  // what is mapped of the file: a mapping may be older than a growth
};

volatile LONG g_stop = 0;

BOOL WINAPI onConsoleBreak(DWORD) {
    g_stop = 1;
    return TRUE;
}

void print(const std::wstring& text) {
    int bytes = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string utf8(bytes > 0 ? bytes : 1, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, &utf8[0], bytes, nullptr, nullptr);
    fputs(utf8.c_str(), stdout);
}

std::wstring readViewerValue(const wchar_t* value) {
    wchar_t text[MAX_PATH] = {};
    DWORD bytes = sizeof text - sizeof(wchar_t);
    HKEY key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kViewerKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return L"";
    if (RegQueryValueExW(key, value, nullptr, nullptr, reinterpret_cast<BYTE*>(text), &bytes) != ERROR_SUCCESS)
        text[0] = 0;
    RegCloseKey(key);
    return text;
}

void objectName(wchar_t* out, const wchar_t* base) { swprintf(out, 64, L"Global\\%ls", base); }

bool lock(const Buffer& b) {
    DWORD result = WaitForSingleObject(b.lock, INFINITE);
    return result == WAIT_OBJECT_0 || result == WAIT_ABANDONED;
}

// Sizes, maps and (when new) heads the buffer file; under the buffer lock,
// so no program sees a file half made or a header half written.
bool mapBuffer(Buffer* b, const SECURITY_ATTRIBUTES& open) {
    LARGE_INTEGER size;
    GetFileSizeEx(b->file, &size);
    bool created = size.QuadPart == 0;
    if (created) {
        std::wstring configured = readViewerValue(L"IPC buffer size");
        unsigned long bytes = wcstoul(configured.c_str(), nullptr, 10);
        size.QuadPart = bytes >= 10000 && bytes <= 100000000 ? bytes : kDefaultBufferBytes;
        SetFilePointerEx(b->file, size, nullptr, FILE_BEGIN);
        SetEndOfFile(b->file);
    }
    b->fileBytes = uint64_t(size.QuadPart);
    wchar_t name[64];
    objectName(name, L"PB_MAP");
    b->mapping = CreateFileMappingW(b->file, const_cast<SECURITY_ATTRIBUTES*>(&open), PAGE_READWRITE, 0, 0, name);
    if (b->mapping) b->view = static_cast<uint8_t*>(MapViewOfFile(b->mapping, FILE_MAP_WRITE, 0, 0, 0));
    if (!b->view || b->fileBytes < kPBHeaderBytes) return false;
    b->viewBytes = pbViewSize(b->view, b->fileBytes);
    if (created) pbResetHeader(b->view, uint32_t(b->fileBytes), PB_RESET_NEW_FILE);
    return true;
}

// Opens (or creates) the named objects and the buffer file and maps it.
bool openBuffer(Buffer* b) {
    std::wstring directory = readViewerValue(L"IPC buffer directory");
    if (directory.empty()) {
        fprintf(stderr, "traceview: no \"IPC buffer directory\" set; use traceview --setup DIR\n");
        return false;
    }
    SECURITY_DESCRIPTOR descriptor;
    InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION);
    SetSecurityDescriptorDacl(&descriptor, TRUE, nullptr, FALSE);
    SECURITY_ATTRIBUTES open = {sizeof open, &descriptor, FALSE};
    wchar_t name[64];
    objectName(name, L"PB_MTX");
    b->lock = CreateMutexW(&open, FALSE, name);
    objectName(name, L"PB_EVT_NEW_MSGS");
    b->newMessages = CreateEventW(&open, FALSE, FALSE, name);
    objectName(name, L"PB_EVT_LOW_MEM");
    b->lowSpace = CreateEventW(&open, FALSE, FALSE, name);
    std::wstring path = directory + L"\\PBIPC.pbd";
    b->file = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &open,
                          OPEN_ALWAYS, FILE_FLAG_RANDOM_ACCESS, nullptr);
    if (!b->lock || !b->newMessages || !b->lowSpace || b->file == INVALID_HANDLE_VALUE) {
        fprintf(stderr, "traceview: cannot open the buffer (error %lu)\n", GetLastError());
        b->file = nullptr;
        return false;
    }
    bool locked = lock(*b);
    bool mapped = mapBuffer(b, open);
    if (!mapped) fprintf(stderr, "traceview: cannot map the buffer (error %lu)\n", GetLastError());
    if (locked) ReleaseMutex(b->lock);
    return mapped;
}

void closeBuffer(Buffer* b) {
    if (b->view) UnmapViewOfFile(b->view);
    for (HANDLE h : {b->mapping, b->file, b->lowSpace, b->newMessages, b->lock})
        if (h) CloseHandle(h);
    *b = {};
}


const wchar_t* levelName(uint32_t level) {
    switch (level) {
    case 2: return L"scope";
    case 4: return L"detail";
    case 8: return L"info";
    case 16: return L"warning";
    case 32: return L"error";
    case 0x8000: return L"api";
    default: return nullptr;
    }
}

std::wstring formatRecord(const PBRecord& r) {
    uint64_t local = r.time + int64_t(r.localMinutes) * 600000000LL;
    FILETIME time = {DWORD(local), DWORD(local >> 32)};
    SYSTEMTIME t = {};
    FileTimeToSystemTime(&time, &t);
    wchar_t head[160], level[16];
    const wchar_t* name = levelName(r.level);
    if (name) swprintf(level, 16, L"%ls", name); else swprintf(level, 16, L"0x%x", r.level);
    swprintf(head, 160, L"%04u-%02u-%02u %02u:%02u:%02u.%03u %-7ls %5u:%-5u ", t.wYear, t.wMonth, t.wDay, t.wHour,
             t.wMinute, t.wSecond, t.wMilliseconds, level, r.processId, r.threadId);
    std::wstring line = head;
    if (!r.sourceFile.empty()) line += r.sourceFile + L"(" + std::to_wstring(r.line) + L") ";
    if (!r.componentName.empty() || !r.contextName.empty())
        line += L"[" + r.componentName + (r.contextName.empty() ? L"" : L"/" + r.contextName) + L"] ";
    return line + r.message + L"\n";
}

// Where reading got to, and what the header said last time.
struct Cursor {
    uint32_t readOffset = 0;
    uint32_t dropped = 0;
    bool invalidReported = false;
};

// Collects the records added since the cursor, under the lock, and prints
// them after releasing it.
void printNew(const Buffer& b, Cursor* cursor) {
    std::vector<std::wstring> lines;
    if (!lock(b)) return;
    PBHeaderState header;
    bool valid = pbReadValidHeader(b.view, b.viewBytes, b.fileBytes, &header);
    if (valid) {
        if (header.writeOffset < cursor->readOffset) {
            lines.push_back(L"-- the buffer was cleared\n");
            cursor->readOffset = 0;
        }
        while (cursor->readOffset < header.writeOffset) {
            PBRecord record;
            uint32_t size = pbDecodeRecord(b.view + header.dataOffset + cursor->readOffset,
                                           header.writeOffset - cursor->readOffset, &record);
            if (size == 0) {
                lines.push_back(L"-- damaged record; skipping the rest\n");
                cursor->readOffset = header.writeOffset;
                break;
            }
            lines.push_back(formatRecord(record));
            cursor->readOffset += size;
        }
        uint32_t dropped = pbRead32(b.view + PB_DROPPED);
        if (dropped != cursor->dropped)
            lines.push_back(L"-- " + std::to_wstring(dropped) + L" records dropped so far (buffer full)\n");
        cursor->dropped = dropped;
    }
    ReleaseMutex(b.lock);
    if (!valid && !cursor->invalidReported) lines.push_back(L"-- the buffer header is invalid; traceview -c resets it\n");
    cursor->invalidReported = !valid;
    for (const std::wstring& line : lines) print(line);
    fflush(stdout);
}

void follow(const Buffer& b, Cursor* cursor, DWORD limitMs) {
    SetConsoleCtrlHandler(onConsoleBreak, TRUE);
    print(L"-- following new records\n");
    fflush(stdout);
    DWORD startMs = GetTickCount();
    while (!g_stop && (limitMs == 0 || GetTickCount() - startMs < limitMs)) {
        // The timeout also catches a clear by another viewer, which signals nothing.
        WaitForSingleObject(b.newMessages, 500);
        printNew(b, cursor);
    }
}

// Drops every record: an empty data area (a damaged header is rebuilt when
// the whole file is mapped).
void clear(const Buffer& b) {
    if (!lock(b)) return;
    if (pbReadValidHeader(b.view, b.viewBytes, b.fileBytes, nullptr)) {
        pbWritePair(b.view, PB_WRITE_OFFSET, 0);
        pbWritePair(b.view, PB_SUM, 0);
    } else if (b.viewBytes == b.fileBytes) {
        pbResetHeader(b.view, uint32_t(b.fileBytes), PB_RESET_NONE);
    }
    ReleaseMutex(b.lock);
    SetEvent(b.newMessages);
    print(L"-- buffer cleared\n");
}

int setup(int argc, wchar_t** argv) {
    HKEY key;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, kViewerKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr) !=
        ERROR_SUCCESS) {
        fprintf(stderr, "traceview: cannot write the registry settings\n");
        return 1;
    }
    const wchar_t* directory = argv[2];
    const wchar_t* bytes = argc > 3 ? argv[3] : L"1000000";
    if (!CreateDirectoryW(directory, nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
        fprintf(stderr, "traceview: cannot create the folder (error %lu)\n", GetLastError());
        RegCloseKey(key);
        return 1;
    }
    RegSetValueExW(key, L"IPC buffer directory", 0, REG_SZ, reinterpret_cast<const BYTE*>(directory),
                   DWORD((wcslen(directory) + 1) * 2));
    RegSetValueExW(key, L"IPC buffer size", 0, REG_SZ, reinterpret_cast<const BYTE*>(bytes),
                   DWORD((wcslen(bytes) + 1) * 2));
    RegCloseKey(key);
    print(L"-- programs now log into " + std::wstring(directory) + L"\\PBIPC.pbd\n");
    return 0;
}

int removeSettings() {
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, kViewerKey);
    print(L"-- logging off: the viewer's settings are removed\n");
    return 0;
}

int usage() {
    fprintf(stderr,
            "usage: traceview [-f [-s SECONDS]] | -c | --setup DIR [BYTES] | --remove\n"
            "  (none)   print every record in the buffer\n"
            "  -f       then follow new records (Ctrl+C ends; -s ends after SECONDS)\n"
            "  -c       clear the buffer\n"
            "  --setup  make programs log into DIR\\PBIPC.pbd (BYTES: buffer size)\n"
            "  --remove delete the settings again\n");
    return 2;
}

}  // namespace

int main() {
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    bool followMode = false, clearMode = false;
    DWORD limitMs = 0;
    for (int i = 1; i < argc; ++i) {
        if (!wcscmp(argv[i], L"--setup")) return argc > 2 ? setup(argc, argv) : usage();
        if (!wcscmp(argv[i], L"--remove")) return removeSettings();
        if (!wcscmp(argv[i], L"-f")) followMode = true;
        else if (!wcscmp(argv[i], L"-c")) clearMode = true;
        else if (!wcscmp(argv[i], L"-s") && i + 1 < argc) limitMs = DWORD(wcstoul(argv[++i], nullptr, 10) * 1000);
        else return usage();
    }
    Buffer buffer;
    if (!openBuffer(&buffer)) {
        closeBuffer(&buffer);
        return 1;
    }
    if (clearMode) {
        clear(buffer);
    } else {
        Cursor cursor;
        printNew(buffer, &cursor);
        if (followMode) follow(buffer, &cursor, limitMs);
    }
    closeBuffer(&buffer);
    return 0;
}
