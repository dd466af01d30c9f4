#include "pbtestenv.h"

namespace {

const wchar_t kViewerKey[] = L"SOFTWARE\\Diamond Sierra\\Paul Bunyan";

std::wstring wide(const std::string& text) { return std::wstring(text.begin(), text.end()); }

}  // namespace

void setViewerValue(const char* name, const std::string& text) {
    HKEY key;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, kViewerKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    std::wstring value = wide(text);
    RegSetValueExW(key, wide(name).c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                   DWORD((value.size() + 1) * 2));
    RegCloseKey(key);
}

std::string readViewerValue(const char* name) {
    wchar_t text[600] = {};
    DWORD bytes = sizeof text - 2;
    if (RegGetValueW(HKEY_LOCAL_MACHINE, kViewerKey, wide(name).c_str(), RRF_RT_REG_SZ, nullptr, text, &bytes)) return "";
    std::wstring value = text;
    return std::string(value.begin(), value.end());
}

void deleteViewerKey() {
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, kViewerKey);
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Diamond Sierra");
}

BufferFile::BufferFile(const std::string& path) {
    file_ = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                        OPEN_EXISTING, 0, nullptr);
    if (file_ == INVALID_HANDLE_VALUE) {
        file_ = nullptr;
        return;
    }
    LARGE_INTEGER size;
    GetFileSizeEx(file_, &size);
    fileBytes_ = uint64_t(size.QuadPart);
    mapping_ = CreateFileMappingW(file_, nullptr, PAGE_READWRITE, 0, 0, nullptr);
    if (mapping_) view_ = static_cast<uint8_t*>(MapViewOfFile(mapping_, FILE_MAP_WRITE, 0, 0, 0));
}

BufferFile::~BufferFile() {
    if (view_) UnmapViewOfFile(view_);
    if (mapping_) CloseHandle(mapping_);
    if (file_) CloseHandle(file_);
}

bool BufferFile::valid(PBHeaderState* state) const {
    return view_ && pbReadValidHeader(view_, size_t(fileBytes_), fileBytes_, state);
}

std::vector<PBRecord> BufferFile::records() const {
    std::vector<PBRecord> found;
    PBHeaderState header;
    if (!valid(&header)) return found;
    for (uint32_t at = 0; at < header.writeOffset;) {
        PBRecord record;
        uint32_t size = pbDecodeRecord(view_ + header.dataOffset + at, header.writeOffset - at, &record);
        if (size == 0) break;
        found.push_back(record);
        at += size;
    }
    return found;
}

SignalProbe::SignalProbe(const wchar_t* baseName) {
    event_ = CreateEventW(nullptr, FALSE, FALSE, (std::wstring(L"Global\\") + baseName).c_str());
}

void TraceLogTest::SetUp() {
    HarnwickTest::SetUp();
    deleteViewerKey();
    reconnect();
    setPBErrorObserver(onReport, this);
}

void TraceLogTest::TearDown() {
    setPBErrorObserver(nullptr, nullptr);
    reconnect();
    deleteViewerKey();
    HarnwickTest::TearDown();
}

void TraceLogTest::withViewer(DWORD bufferBytes) {
    setViewerValue("IPC buffer directory", tempDir());
    setViewerValue("IPC buffer size", std::to_string(bufferBytes));
}

void TraceLogTest::reconnect() {
    PBShutdown(2000);
    pbRestart();
}

bool TraceLogTest::reported(DWORD code) const {
    for (const Report& r : reports)
        if (r.code == code) return true;
    return false;
}

void TraceLogTest::onReport(void* context, DWORD code, DWORD, const wchar_t* detail) {
    static_cast<TraceLogTest*>(context)->reports.push_back({code, detail});
}

void logText(const std::string& text, DWORD level) {
    traceLineEx("log.cpp", 7, level, nullptr, nullptr, "%s", text.c_str());
}

std::string programBeside(const std::string& relativePath) {
    char self[MAX_PATH];
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    std::string path = self;
    return path.substr(0, path.find_last_of('\\') + 1) + relativePath;
}

bool startProgram(const std::string& commandLine, const std::string& outputPath, PROCESS_INFORMATION* started) {
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    HANDLE output = nullptr;
    if (!outputPath.empty()) {
        SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
        output = CreateFileA(outputPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                             CREATE_ALWAYS, 0, nullptr);
        if (output == INVALID_HANDLE_VALUE) return false;
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdOutput = startup.hStdError = output;
    }
    std::string line = commandLine;
    bool ok = CreateProcessA(nullptr, &line[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, started);
    if (output) CloseHandle(output);
    return ok;
}

int runProgram(const std::string& commandLine, const std::string& outputPath) {
    PROCESS_INFORMATION started;
    if (!startProgram(commandLine, outputPath, &started)) return -1;
    DWORD exitCode = DWORD(-1);
    if (WaitForSingleObject(started.hProcess, 30000) == WAIT_OBJECT_0) GetExitCodeProcess(started.hProcess, &exitCode);
    CloseHandle(started.hThread);
    CloseHandle(started.hProcess);
    return int(exitCode);
}

std::string readText(const std::string& path) {
    std::vector<unsigned char> bytes = readFileBytes(path);
    return std::string(bytes.begin(), bytes.end());
}
