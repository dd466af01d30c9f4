// Test fixture and fakes shared by the unit and component tests.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "platform/platform.h"

// Each test starts with no settings key and its own empty temporary folder, which is removed afterwards.
class HarnwickTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // The test's folder, without a trailing backslash.
    const std::string& tempDir() const { return tempDir_; }
    std::string tempPath(const std::string& name) const { return tempDir_ + "\\" + name; }

private:
    std::string tempDir_;
};

// Whether the settings key exists at all.
bool settingsKeyExists();
// Deletes a folder and everything below it.
void removeTree(const std::string& path);
// Reads a whole file; empty when it cannot be read.
std::vector<unsigned char> readFileBytes(const std::string& path);

// Collects the text of every trace line while alive (from any thread).
class TraceRecorder {
public:
    TraceRecorder();
    ~TraceRecorder();
    // Texts of the lines at the given level (all levels for 0).
    std::vector<std::string> texts(int level = 0) const;
    // Whether some line's text contains the fragment.
    bool contains(const std::string& fragment) const;

private:
    static void observe(void* self, const char* file, int line, int level, const char* text);
    mutable CRITICAL_SECTION lock_;
    std::vector<std::pair<int, std::string>> lines_;  // level, text
};

// Replaces the platform's message box while alive: records each call and answers with the queued buttons
// (IDOK when the queue is empty).
class MessageBoxRecorder {
public:
    struct Call {
        HWND owner;
        std::string text;
        std::string caption;
        UINT flags;
    };

    MessageBoxRecorder();
    ~MessageBoxRecorder();

    void answer(int button) { answers_.push_back(button); }
    const std::vector<Call>& calls() const { return calls_; }

private:
    static int WINAPI fakeMessageBox(HWND owner, LPCSTR text, LPCSTR caption, UINT flags);
    PlatformOverride override_;
    std::vector<Call> calls_;
    std::vector<int> answers_;
    static MessageBoxRecorder* current_;
};
