#include "support/testenv.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>

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
    std::error_code ignored;  // a folder that is not there is removed already
    std::filesystem::remove_all(path, ignored);
}

std::vector<unsigned char> readFileBytes(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return std::vector<unsigned char>(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
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

void TraceRecorder::observe(void* self, const char*, int, int level, const char* text) {
    TraceRecorder* r = static_cast<TraceRecorder*>(self);
    EnterCriticalSection(&r->lock_);
    r->lines_.emplace_back(level, text);
    LeaveCriticalSection(&r->lock_);
}

std::vector<std::string> TraceRecorder::texts(int level) const {
    std::vector<std::string> result;
    EnterCriticalSection(&lock_);
    for (const auto& l : lines_)
        if (level == 0 || l.first == level) result.push_back(l.second);
    LeaveCriticalSection(&lock_);
    return result;
}

bool TraceRecorder::contains(const std::string& fragment) const {
    for (const std::string& text : texts())
        if (text.find(fragment) != std::string::npos) return true;
    return false;
}
