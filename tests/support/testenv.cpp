#include "support/testenv.h"

#include <cstdio>

#include "settings/settings.h"
#include "tracelog/trace.h"

// Removes the settings key and its now-empty parents.
static void deleteSettingsKey() {
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, kSettingsKey);
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Quillmark Labs\\Harnwick Live");
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Quillmark Labs");
}

bool settingsKeyExists() {
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSettingsKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
}

void removeTree(const std::string& path) {
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((path + "\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            std::string name = found.cFileName;
            if (name == "." || name == "..") continue;
            std::string child = path + "\\" + name;
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                removeTree(child);
            else {
                SetFileAttributesA(child.c_str(), FILE_ATTRIBUTE_NORMAL);
                DeleteFileA(child.c_str());
            }
        } while (FindNextFileA(search, &found));
        FindClose(search);
    }
    RemoveDirectoryA(path.c_str());
}

std::vector<unsigned char> readFileBytes(const std::string& path) {
    std::vector<unsigned char> bytes;
    FILE* file = fopen(path.c_str(), "rb");
    if (!file) return bytes;
    unsigned char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, file)) > 0) bytes.insert(bytes.end(), buffer, buffer + n);
    fclose(file);
    return bytes;
}

void HarnwickTest::SetUp() {
    deleteSettingsKey();
    ASSERT_FALSE(settingsKeyExists()) << "settings key could not be removed";
    char base[MAX_PATH];
    GetTempPathA(MAX_PATH, base);
    const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
    char name[MAX_PATH];
    snprintf(name, sizeof name, "%shwtest-%lu-%s-%s", base, GetCurrentProcessId(), info->test_suite_name(),
             info->name());
    for (char* p = name + strlen(base); *p; ++p)
        if (*p == '/') *p = '_';
    tempDir_ = name;
    removeTree(tempDir_);
    ASSERT_TRUE(CreateDirectoryA(tempDir_.c_str(), nullptr)) << tempDir_;
}

void HarnwickTest::TearDown() {
    removeTree(tempDir_);
    deleteSettingsKey();
}

MessageBoxRecorder* MessageBoxRecorder::current_ = nullptr;

MessageBoxRecorder::MessageBoxRecorder() {
    current_ = this;
    override_.api().messageBoxA = fakeMessageBox;
}

MessageBoxRecorder::~MessageBoxRecorder() { current_ = nullptr; }

int WINAPI MessageBoxRecorder::fakeMessageBox(HWND owner, LPCSTR text, LPCSTR caption, UINT flags) {
    MessageBoxRecorder* self = current_;
    self->calls_.push_back({owner, text ? text : "", caption ? caption : "", flags});
    if (self->answers_.empty()) return IDOK;
    int button = self->answers_.front();
    self->answers_.erase(self->answers_.begin());
    return button;
}

TraceRecorder::TraceRecorder() {
    InitializeCriticalSection(&lock_);
    setTraceObserver(observe, this);
}

TraceRecorder::~TraceRecorder() {
    setTraceObserver(nullptr, nullptr);
    DeleteCriticalSection(&lock_);
}

void TraceRecorder::observe(void* self, const char* file, int line, int level, const char* text) {
    TraceRecorder* r = static_cast<TraceRecorder*>(self);
    EnterCriticalSection(&r->lock_);
    r->lines_.push_back({file, line, level, text});
    LeaveCriticalSection(&r->lock_);
}

std::vector<TraceRecorder::Line> TraceRecorder::lines() const {
    EnterCriticalSection(&lock_);
    std::vector<Line> copy = lines_;
    LeaveCriticalSection(&lock_);
    return copy;
}

std::vector<std::string> TraceRecorder::texts(int level) const {
    std::vector<std::string> result;
    for (const Line& l : lines())
        if (level == 0 || l.level == level) result.push_back(l.text);
    return result;
}

bool TraceRecorder::contains(const std::string& fragment) const {
    for (const Line& l : lines())
        if (l.text.find(fragment) != std::string::npos) return true;
    return false;
}
