// Shared by the trace-log tests: a fixture that gives each test a fresh
// client and viewer settings pointing at its temporary folder, and a view of
// the buffer file as the viewer sees it.
#pragma once

#include <string>
#include <vector>

#include "support/testenv.h"
#include "tracelog/pbbuffer.h"
#include "tracelog/pbclient.h"

extern const wchar_t kViewerKeyW[];

void setViewerValue(const char* name, const std::string& text);
std::string readViewerValue(const char* name);
bool viewerValueExists(const char* name);
void deleteViewerKey();

// The buffer file mapped on its own (not through the client's mapping).
class BufferFile {
public:
    explicit BufferFile(const std::string& path);
    ~BufferFile();
    bool ok() const { return view_ != nullptr; }
    uint8_t* bytes() { return view_; }
    uint64_t fileBytes() const { return fileBytes_; }
    uint32_t field(uint32_t offset) const { return pbRead32(view_ + offset); }
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

// A named event of the protocol, opened (or created first) by the test.
class SignalProbe {
public:
    explicit SignalProbe(const wchar_t* baseName);
    ~SignalProbe();
    // Whether it was set since the last look (auto-reset: looking clears it).
    bool fired();

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
    // Writes a file of the given bytes as the buffer file.
    void writeBufferFile(const std::vector<uint8_t>& bytes);

    std::vector<Report> reports;

private:
    static void onReport(void* context, DWORD code, DWORD windowsError, const wchar_t* detail);
};

std::wstring wide(const std::string& text);

// Path of a program built beside this test program, or relative to it.
std::string programBeside(const std::string& relativePath);
// Starts a program with its standard output and error going to outputPath
// (when given). The caller closes the returned handles.
bool startProgram(const std::string& commandLine, const std::string& outputPath, PROCESS_INFORMATION* started);
// Runs a program to its end (at most waitMs); its exit code, or -1.
int runProgram(const std::string& commandLine, const std::string& outputPath, DWORD waitMs = 30000);
std::string readText(const std::string& path);
