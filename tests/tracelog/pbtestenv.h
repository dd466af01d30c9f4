// Shared by the trace-log tests: a fixture that gives each test a fresh
// client and viewer settings pointing at its temporary folder, and a view of
// the buffer file as the viewer sees it.
#pragma once

#include <string>
#include <vector>

#include "support/testenv.h"
#include "tracelog/pbbuffer.h"
#include "tracelog/pbclient.h"
#include "tracelog/trace.h"

void setViewerValue(const char* name, const std::string& text);
// The value's text; empty when it (or the key) is missing.
std::string readViewerValue(const char* name);
void deleteViewerKey();

// The buffer file mapped on its own (not through the client's mapping).
class BufferFile {
public:
    explicit BufferFile(const std::string& path);
    ~BufferFile();
    uint8_t* bytes() { return view_; }
    uint64_t fileBytes() const { return fileBytes_; }
    uint32_t field(uint32_t offset) const { return pbRead32(view_ + offset); }
    uint64_t time(uint32_t offset) const { return pbRead64(view_ + offset); }
    void setPair(uint32_t field, uint32_t value) { pbWritePair(view_, field, value); }
    bool valid(PBHeaderState* state = nullptr) const;
    // Every record from the data area start up to the write offset.
    std::vector<PBRecord> records() const;

private:
    HANDLE file_ = nullptr;
    HANDLE mapping_ = nullptr;
    uint8_t* view_ = nullptr;
    uint64_t fileBytes_ = 0;
};

// A named auto-reset event of the protocol, opened (or created first) by the test.
class SignalProbe {
public:
    explicit SignalProbe(const wchar_t* baseName);
    ~SignalProbe() { CloseHandle(event_); }
    // Whether it was set since the last look (looking clears it).
    bool fired() { return WaitForSingleObject(event_, 0) == WAIT_OBJECT_0; }

private:
    HANDLE event_;
};

// Each test: no viewer settings, a client that will connect afresh, error
// reports collected. withViewer() points the settings at tempDir().
class TraceLogTest : public HarnwickTest {
public:
    struct Report {
        DWORD code;
        std::wstring detail;
    };

protected:
    void SetUp() override;
    void TearDown() override;

    void withViewer(DWORD bufferBytes = 100000);
    // Ends the client's connection so the next log call connects again.
    void reconnect();
    std::string bufferPath() const { return tempPath("PBIPC.pbd"); }
    bool reported(DWORD code) const;

    std::vector<Report> reports;

private:
    static void onReport(void* context, DWORD code, DWORD windowsError, const wchar_t* detail);
};

// Logs one line, filed under "log.cpp" line 7.
void logText(const std::string& text, DWORD level = TRACE_INFO);

// Path of a program relative to this test program's folder.
std::string programBeside(const std::string& relativePath);
// Starts a program with its standard output and error going to outputPath
// (when given). The caller closes the returned handles.
bool startProgram(const std::string& commandLine, const std::string& outputPath, PROCESS_INFORMATION* started);
// Runs a program to its end (at most 30 s); its exit code, or -1.
int runProgram(const std::string& commandLine, const std::string& outputPath);
std::string readText(const std::string& path);
