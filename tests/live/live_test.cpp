// End-to-end: the real host program in its own process, driven through its dialog the way a user does,
// its trace read through the trace viewer. The wrapper plays a tone into the guitar input meanwhile.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <windows.h>
#include <mmsystem.h>
#include <dsound.h>

#include "drive.h"
#include "pluginswap.h"
#include "registration.h"
#include "settings/settings.h"
#include "support/testenv.h"
#include "ui/resource.h"

namespace {

const DWORD kStartMs = 15000;
const char* const kHostCaption = "Harnwick soundcard loopback host";

std::string toWindowsPath(const char* unixPath) {
    std::string path = std::string("Z:") + unixPath;
    std::replace(path.begin(), path.end(), '/', '\\');
    return path;
}

// The product folder (HarnwickLive.exe, its DLLs, the test plug-ins).
std::string productFolder() { return toWindowsPath(HW_BIN_DIR); }

// Runs a program to its end (30 s at most): what it printed on both outputs;
// its exit code (-1 when it did not end) in exitCode when given.
std::string runAndCapture(const std::string& commandLine, long* exitCode = nullptr) {
    if (exitCode) *exitCode = -1;
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE readEnd = nullptr, writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0)) return "";
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = startup.hStdError = writeEnd;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    PROCESS_INFORMATION process = {};
    std::string line = commandLine;
    BOOL started = CreateProcessA(nullptr, &line[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process);
    CloseHandle(writeEnd);
    std::string output;
    if (started) {
        char buffer[4096];
        DWORD got = 0;
        while (ReadFile(readEnd, buffer, sizeof buffer, &got, nullptr) && got > 0) output.append(buffer, got);
        DWORD code = static_cast<DWORD>(-1);
        if (WaitForSingleObject(process.hProcess, 30000) == WAIT_OBJECT_0) GetExitCodeProcess(process.hProcess, &code);
        if (exitCode) *exitCode = static_cast<long>(code);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
    CloseHandle(readEnd);
    return output;
}

// The trace viewer: "--setup <folder>" routes traces there, "-c" empties it, "" prints it, "--remove" ends it.
std::string traceview(const std::string& arguments) {
    return runAndCapture("\"" + toWindowsPath(HW_TRACEVIEW) + "\" " + arguments);
}

// The host program in its own process, ended if still running, so one failed test cannot block the next.
class LiveHost {
public:
    LiveHost() = default;
    LiveHost(const LiveHost&) = delete;
    LiveHost& operator=(const LiveHost&) = delete;
    ~LiveHost() {
        if (!process_.hProcess) return;
        if (WaitForSingleObject(process_.hProcess, 0) == WAIT_TIMEOUT) TerminateProcess(process_.hProcess, 99);
        CloseHandle(process_.hThread);
        CloseHandle(process_.hProcess);
    }
    bool start() {
        const std::string folder = productFolder();
        std::string line = "\"" + folder + "\\HarnwickLive.exe\"";
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        return CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(), &startup,
                              &process_);
    }
    // The host dialog, waiting up to timeoutMs for it.
    HWND dialog(DWORD timeoutMs = 30000) {
        if (!dialog_ || !IsWindow(dialog_)) dialog_ = drive::waitForWindow(kHostCaption, timeoutMs);
        return dialog_;
    }
    void press(int id) { drive::pressButton(dialog(), id); }
    // The exit code once the process has ended within timeoutMs, -1 if it has not.
    long waitForExit(DWORD timeoutMs) {
        DWORD code = static_cast<DWORD>(-1);
        if (WaitForSingleObject(process_.hProcess, timeoutMs) == WAIT_OBJECT_0)
            GetExitCodeProcess(process_.hProcess, &code);
        return static_cast<long>(code);
    }
    // Ends the process at once, without any clean-up, as a crash does.
    void kill() {
        TerminateProcess(process_.hProcess, 9);
        WaitForSingleObject(process_.hProcess, INFINITE);
    }
    HANDLE process() const { return process_.hProcess; }

private:
    PROCESS_INFORMATION process_ = {};
    HWND dialog_ = nullptr;
};

// A message box with this caption: its text, after pressing OK; empty when none appeared within timeoutMs.
std::string answerMessageBox(const char* caption, DWORD timeoutMs) {
    HWND box = drive::waitForWindow(caption, timeoutMs);
    return box ? drive::answerMessageBox(box) : "";
}

struct Wave {
    uint32_t riffBytes = 0, dataBytes = 0;
    std::vector<int16_t> samples;
};

Wave readWave(const std::string& path) {
    Wave w;
    std::vector<unsigned char> b = readFileBytes(path);
    if (b.size() < 44) return w;
    memcpy(&w.riffBytes, &b[4], 4);
    memcpy(&w.dataBytes, &b[40], 4);
    w.samples.resize((b.size() - 44) / 2);
    memcpy(w.samples.data(), &b[44], w.samples.size() * 2);
    return w;
}

double rms(const std::vector<int16_t>& s) {
    double sum = 0;
    for (int16_t v : s) sum += static_cast<double>(v) * v;
    return s.empty() ? 0 : std::sqrt(sum / s.size()) / 32768.0;
}

BOOL CALLBACK findTrackbar(HWND window, LPARAM found) {
    char name[64] = {};
    GetClassNameA(window, name, sizeof name);
    if (strcmp(name, "msctls_trackbar32") != 0) return TRUE;
    *reinterpret_cast<HWND*>(found) = window;
    return FALSE;
}

// The first slider of the embedded plug-in page.
HWND firstSlider(HWND dialog) {
    HWND slider = nullptr;
    EnumChildWindows(dialog, findTrackbar, reinterpret_cast<LPARAM>(&slider));
    return slider;
}

// Moves a slider the way the keyboard does, so the page sees the change.
void moveSlider(HWND slider, int position) {
    SendMessageA(slider, TBM_SETPOS, TRUE, position);
    SendMessageA(GetParent(slider), WM_HSCROLL, MAKEWPARAM(TB_ENDTRACK, 0), reinterpret_cast<LPARAM>(slider));
}

size_t fileBytes(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    return GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data) ? data.nFileSizeLow : 0;
}

// The two processing modes on each sound system.
struct Mode {
    const char* name;
    bool direct, directSound;
};
const Mode kModes[] = {{"graph, waveIn/waveOut", false, false},
                       {"direct, waveIn/waveOut", true, false},
                       {"graph, DirectSound", false, true},
                       {"direct, DirectSound", true, true}};

void chooseMode(const Mode& mode) {
    writeSettingFlag("DONT USE WINDOWS DX HANDLER", mode.direct);
    writeSettingFlag("USE_DIRECTX", mode.directSound);
}

class LiveTest : public HarnwickTest {
protected:
    static void SetUpTestSuite() {
        char base[MAX_PATH];
        GetTempPathA(MAX_PATH, base);
        traceFolder_ = std::string(base) + "hwlive-trace";
        traceview("--setup \"" + traceFolder_ + "\"");
    }
    static void TearDownTestSuite() {
        traceview("--remove");
        removeTree(traceFolder_);
    }

    void SetUp() override {
        HarnwickTest::SetUp();
        // The real plug-in serves its class, whatever an interrupted run left registered.
        ASSERT_EQ(S_OK, callServerRegistration((productFolder() + "\\HarnwickAmp.dll").c_str(), true));
        settingFile_ = productFolder() + "\\Default Live setting";
        DeleteFileA(settingFile_.c_str());
        traceview("-c");
        writeSettingInt("times", 1);  // not a first start: no wizard in the way
        writeSettingText("DISK_OUTPUT_DIRECTORY", tempDir().c_str());
        writeSettingFlag("SAVE_INPUT", true);
        writeSettingFlag("SAVE_OUTPUT", true);
        writeSettingFlag("APPEND_TAKE_NUMBER", true);
    }
    void TearDown() override {
        DeleteFileA(settingFile_.c_str());
        HarnwickTest::TearDown();
    }

    std::string take(const char* kind, int number) {
        char name[64];
        snprintf(name, sizeof name, "Harnwick %s Signal-%04d.wav", kind, number);
        return tempPath(name);
    }

    // Runs the loop until the input take holds recordedBytes (20 s at most), then stops it with STOP or Exit.
    void playFor(LiveHost& host, size_t recordedBytes, bool exit = false) {
        HWND dialog = host.dialog();
        host.press(IDC_HOST_RUN_STOP);
        ASSERT_TRUE(drive::waitForButtonText(dialog, IDC_HOST_RUN_STOP, "Stop!", kStartMs));
        EXPECT_FALSE(drive::buttonEnabled(dialog, IDC_HOST_SETTINGS)) << "no settings while running";
        const std::string input = take("Input", readSettingInt("TAKE_NUMBER"));
        for (DWORD waited = 0; fileBytes(input) < recordedBytes && waited < 20000; waited += 100) Sleep(100);
        if (exit) return exitHost(host);
        host.press(IDC_HOST_RUN_STOP);
        ASSERT_TRUE(drive::waitForButtonText(dialog, IDC_HOST_RUN_STOP, "Run!", 5000));
        EXPECT_TRUE(drive::buttonEnabled(dialog, IDC_HOST_SETTINGS));
        exitHost(host);
    }

    void exitHost(LiveHost& host) {
        host.press(IDOK);
        EXPECT_EQ(0, host.waitForExit(15000)) << "the host program ends after Exit";
    }

    // The plug-in's state as Exit stores it: the file's mark, the state's size and the whole state.
    void expectWholeSettingFile() {
        std::vector<unsigned char> state = readFileBytes(settingFile_);
        ASSERT_GT(state.size(), 12u);
        EXPECT_EQ(0, memcmp(state.data(), "HwLv", 4));
        uint64_t size;
        memcpy(&size, &state[4], 8);
        EXPECT_EQ(12 + size, state.size());
    }

    std::string settingFile_;
    static std::string traceFolder_;
};
std::string LiveTest::traceFolder_;

void expectReleasedTrace(const std::string& trace) {
    for (const char* name : {"pGraphBuilder", "pReader", "pWriter", "pPlugin"})
        EXPECT_NE(std::string::npos, trace.find(std::string("Is ") + name + " completely released? TRUE")) << name;
}

// How many chunks of the re-amped take come back exactly in the live output take. The output take may hold
// a silent chunk the input take lacks (the capture had nothing in time), and may lack one the plug-in
// processed (the queue was full, or the run stopped): those are passed over, every other one must be equal.
struct ChunkMatch {
    size_t chunks = 0, equal = 0, passedOver = 0;
};
ChunkMatch matchChunks(const std::vector<int16_t>& live, const std::vector<int16_t>& again, size_t chunk) {
    ChunkMatch m;
    auto same = [&](size_t at, size_t from, size_t n) {
        return from + n <= again.size() && memcmp(&live[at], &again[from], n * 2) == 0;
    };
    size_t at = 0, from = 0;
    while (at < live.size()) {
        const size_t n = std::min(chunk, live.size() - at);
        const bool equal = same(at, from, n);
        if (!equal && n == chunk && std::all_of(&live[at], &live[at] + n, [](int16_t v) { return v == 0; })) {
            ++m.passedOver;
            at += n;
        } else if (!equal && same(at, from + chunk, n)) {
            ++m.passedOver;
            from += chunk;
        } else {
            ++m.chunks;
            m.equal += equal;
            at += n;
            from += n;
        }
    }
    return m;
}

// Re-amping a run's input take with the sound the host saved gives its output take back, sample for
// sample, in both processing modes (on DirectSound: the wave API's 200 ms waveIn wait loses whole stretches
// on a busy machine). The second period starts with the sound the first one saved. The graph mode's run
// ends with Exit while running, which must stop it first: only STOP traces the run's statistics.
TEST_F(LiveTest, ReampingTheInputTakeGivesTheOutputTakeBack) {
    for (const Mode& mode : {kModes[3], kModes[2]}) {
        SCOPED_TRACE(mode.name);
        chooseMode(mode);
        traceview("-c");
        const int number = readSettingInt("TAKE_NUMBER") + 1;
        const bool exitRunning = !mode.direct;
        {
            LiveHost host;
            ASSERT_TRUE(host.start());
            HWND slider = firstSlider(host.dialog());
            ASSERT_TRUE(slider) << "the plug-in's page is embedded";
            const int high = static_cast<int>(SendMessageA(slider, TBM_GETRANGEMAX, 0, 0));  // not the default
            EXPECT_TRUE(mode.direct || SendMessageA(slider, TBM_GETPOS, 0, 0) == high) << "the saved state is back";
            moveSlider(slider, high);
            playFor(host, 44 + 2 * 44100 * 4, exitRunning);  // two seconds of stereo input
        }
        const std::string trace = traceview("");
        expectReleasedTrace(trace);
        EXPECT_NE(std::string::npos, trace.find("stream statistics: captured ")) << "STOP ran";
        const Wave live = readWave(take("Output", number));
        EXPECT_EQ(live.samples.size() * 2, live.dataBytes) << "the take was completed";
        const size_t chunk = 1024 * 2;  // the DirectSound chunk, stereo
        const std::string reamped = tempPath("reamped.wav");
        long code = -1;
        const std::string said = runAndCapture("\"" + productFolder() + "\\HarnwickReamp.exe\" \"" +
                                               take("Input", number) + "\" \"" + reamped + "\"", &code);
        ASSERT_EQ(0, code) << said;
        const ChunkMatch m = matchChunks(live.samples, readWave(reamped).samples, chunk);
        EXPECT_EQ(m.chunks, m.equal) << "chunks that differ from the live output take";
        EXPECT_GT(m.equal * chunk, 2u * 44100) << "a second of output at least came back; "
                                               << m.passedOver << " chunks passed over";
    }
    expectWholeSettingFile();
}

TEST_F(LiveTest, FaultyPluginsLoseOnlyWhatNeedsTheMissingPart) {
    struct Case {
        const char* plugin;
        bool dialogShown, stateFile;
    } cases[] = {{kThreePinsPlugin, true, true}, {kNoPersistPlugin, true, false}, {kNoPagesPlugin, false, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.plugin);
        DeleteFileA(settingFile_.c_str());
        traceview("-c");
        PluginClassSwap swap(c.plugin);
        ASSERT_EQ(S_OK, swap.result());
        LiveHost host;
        ASSERT_TRUE(host.start());
        if (c.dialogShown) {
            ASSERT_TRUE(host.dialog());
            exitHost(host);
        } else {
            EXPECT_EQ(0, host.waitForExit(15000)) << "without pages there is no dialog; the period just ends";
        }
        EXPECT_EQ(c.stateFile, GetFileAttributesA(settingFile_.c_str()) != INVALID_FILE_ATTRIBUTES);
        expectReleasedTrace(traceview(""));
    }
}

// A start the loop refuses: the user is told why, and RUN stays off for good
// when no later try can work (direct mode without the direct interface).
TEST_F(LiveTest, FailedStarts) {
    struct Case {
        const char* plugin;  // swapped in, or none for the real plug-in
        const char *setting, *value;
        const char* box;  // the box's whole text, or none when any text will do
        bool runAgain;
    } cases[] = {{kNoDirectPlugin, "DONT USE WINDOWS DX HANDLER", "TRUE", "HRESULT: 0x1", false},
                 {nullptr, "WAVE_IN_DEVICE", "40", nullptr, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.setting);
        std::unique_ptr<PluginClassSwap> swap(c.plugin ? new PluginClassSwap(c.plugin) : nullptr);
        ASSERT_TRUE(!swap || swap->result() == S_OK);
        writeSettingText(c.setting, c.value);
        LiveHost host;
        ASSERT_TRUE(host.start());
        HWND dialog = host.dialog();
        host.press(IDC_HOST_RUN_STOP);
        const std::string text = answerMessageBox("Harnwick Live", 20000);
        EXPECT_EQ(c.box ? std::string(c.box) : text, text);
        EXPECT_FALSE(text.empty()) << "the user is told";
        Sleep(300);
        EXPECT_EQ(c.runAgain, drive::buttonEnabled(dialog, IDC_HOST_RUN_STOP));
        EXPECT_TRUE(!c.runAgain || drive::buttonText(dialog, IDC_HOST_RUN_STOP) == "Run!");
        exitHost(host);
        writeSettingText(c.setting, "");
    }
}

// The takes are written while the loop runs (a kill keeps what they held), and the next start repairs their
// headers before its dialog shows. The kill comes two seconds after the input take's first audio.
TEST_F(LiveTest, TakesOfAKilledHostAreRepairedAtItsNextStart) {
    for (const Mode& mode : {kModes[0], kModes[3]}) {
        SCOPED_TRACE(mode.name);
        chooseMode(mode);
        const std::vector<unsigned char> stateBefore = readFileBytes(settingFile_);
        const int number = readSettingInt("TAKE_NUMBER") + 1;
        LiveHost host;
        ASSERT_TRUE(host.start());
        HWND dialog = host.dialog();
        host.press(IDC_HOST_RUN_STOP);
        ASSERT_TRUE(drive::waitForButtonText(dialog, IDC_HOST_RUN_STOP, "Stop!", kStartMs));
        const DWORD running = GetTickCount();
        const std::string takes[2] = {take("Input", number), take("Output", number)};
        while (fileBytes(takes[0]) <= 44 && GetTickCount() - running < kStartMs) Sleep(5);
        Sleep(2000);
        host.kill();
        const double seconds = (GetTickCount() - running) / 1000.0;
        EXPECT_EQ(0xFFFFFFFFu, readWave(takes[0]).dataBytes) << "the kill left the take open-ended";
        EXPECT_EQ(stateBefore, readFileBytes(settingFile_)) << "the setting file is as before the kill";

        LiveHost next;
        ASSERT_TRUE(next.start());
        ASSERT_TRUE(next.dialog());
        for (const std::string& path : takes) {
            SCOPED_TRACE(path);
            Wave wave = readWave(path);
            EXPECT_EQ(wave.samples.size() * 2, wave.dataBytes) << "the header holds the real size";
            EXPECT_EQ(36 + wave.dataBytes, wave.riffBytes);
            const double recorded = static_cast<double>(wave.samples.size()) / 2 / 44100;
            EXPECT_GT(recorded, 0.25) << "the take was written while the loop ran";
            EXPECT_LT(recorded, seconds + 0.5);
        }
        EXPECT_GT(rms(readWave(takes[0]).samples), 0.02) << "the tone was recorded";
        exitHost(next);
        expectWholeSettingFile();
    }
}

// A process's open handles and committed private memory. Wine answers GetProcessHandleCount and
// PrivateUsage with 0, so each handle value is asked for a duplicate and the committed private regions summed.
struct ProcessUsage {
    DWORD handles = 0;
    SIZE_T privateBytes = 0;
};
ProcessUsage processUsage(HANDLE process) {
    ProcessUsage usage;
    for (ULONG_PTR value = 4; value < 0x10000; value += 4) {
        HANDLE copy = nullptr;
        if (!DuplicateHandle(process, reinterpret_cast<HANDLE>(value), GetCurrentProcess(), &copy, 0, FALSE,
                             DUPLICATE_SAME_ACCESS))
            continue;
        CloseHandle(copy);
        ++usage.handles;
    }
    MEMORY_BASIC_INFORMATION region;
    const char* address = nullptr;
    while (VirtualQueryEx(process, address, &region, sizeof region) == sizeof region) {
        if (region.State == MEM_COMMIT && region.Type == MEM_PRIVATE) usage.privateBytes += region.RegionSize;
        const char* next = static_cast<const char*>(region.BaseAddress) + region.RegionSize;
        if (next <= address) break;
        address = next;
    }
    return usage;
}

// The usage of a stopped host, looked at again (up to twice, 250 ms apart) while it is above `bound`, keeping
// the least. A handle left behind is there in every look; one the platform still holds for a moment after
// STOP is not (a clean run once counted one handle more after 20 cycles than after 10, where 50 cycles,
// twice, counted none). Only a figure above the bound is looked at again: each look takes a while.
ProcessUsage usageSettledTo(HANDLE process, const ProcessUsage& bound) {
    ProcessUsage least = processUsage(process);
    for (int look = 1; look < 3 && (least.handles > bound.handles || least.privateBytes > bound.privateBytes);
         ++look) {
        Sleep(250);
        const ProcessUsage now = processUsage(process);
        if (now.handles < least.handles) least.handles = now.handles;
        if (now.privateBytes < least.privateBytes) least.privateBytes = now.privateBytes;
    }
    return least;
}

// What Wine itself keeps per DirectSoundCapture buffer made and released, measured with plain device calls.
SIZE_T wineCaptureRetention() {
    WAVEFORMATEX format = {WAVE_FORMAT_PCM, 2, 44100, 176400, 4, 16, 0};
    SIZE_T before = 0;
    for (int i = 0; i <= 20; ++i) {
        if (i == 1) before = processUsage(GetCurrentProcess()).privateBytes;  // after Wine's own first use
        IDirectSoundCapture* capture = nullptr;
        if (FAILED(DirectSoundCaptureCreate(nullptr, &capture, nullptr))) return 0;
        DSCBUFFERDESC1 description = {sizeof description, 0, 65536, 0, &format};
        IDirectSoundCaptureBuffer* buffer = nullptr;
        if (SUCCEEDED(capture->CreateCaptureBuffer(reinterpret_cast<DSCBUFFERDESC*>(&description), &buffer, nullptr)))
            buffer->Release();
        capture->Release();
    }
    const SIZE_T after = processUsage(GetCurrentProcess()).privateBytes;
    return after > before ? (after - before) / 20 : 0;
}

// HW_RUNSTOP_CYCLES RUN/STOP cycles (default 20) in each mode: the host's handles and committed memory after
// the 10th cycle and at the end, allowing on DirectSound for what Wine itself keeps.
TEST_F(LiveTest, RunStopCyclesLeaveNothingBehind) {
    const char* count = getenv("HW_RUNSTOP_CYCLES");
    const int cycles = count ? atoi(count) : 20;
    ASSERT_GT(cycles, 10);
    const SIZE_T retention = wineCaptureRetention();
    writeSettingFlag("APPEND_TAKE_NUMBER", false);  // each take overwrites the last
    for (const Mode& mode : kModes) {
        SCOPED_TRACE(mode.name);
        chooseMode(mode);
        LiveHost host;
        ASSERT_TRUE(host.start()) << "CreateProcess error " << GetLastError();
        HWND dialog = host.dialog();
        ProcessUsage settled;
        for (int cycle = 1; cycle <= cycles; ++cycle) {
            for (const char* state : {"Stop!", "Run!"}) {
                host.press(IDC_HOST_RUN_STOP);
                ASSERT_TRUE(drive::waitForButtonText(dialog, IDC_HOST_RUN_STOP, state, kStartMs))
                    << "cycle " << cycle << ": " << answerMessageBox("Harnwick Live", 1000);
            }
            if (cycle == 10) settled = processUsage(host.process());
        }
        const SIZE_T wines = mode.directSound ? retention * (cycles - 10) : 0;
        const ProcessUsage bound{settled.handles, settled.privateBytes + wines + (256u << 10)};
        const ProcessUsage end = usageSettledTo(host.process(), bound);
        printf("%s: after 10 cycles %lu handles, %llu private bytes; after %d: %lu handles, %llu private bytes\n",
               mode.name, settled.handles, static_cast<unsigned long long>(settled.privateBytes), cycles, end.handles,
               static_cast<unsigned long long>(end.privateBytes));
        EXPECT_GT(settled.handles, 0u);
        EXPECT_LE(end.handles, bound.handles) << "no handle is left behind";
        EXPECT_LE(end.privateBytes, bound.privateBytes) << "no memory is left behind";
        exitHost(host);
    }
}

// The entry itself, in this process: a plug-in class that is not registered.
TEST_F(LiveTest, UnregisteredPluginEndsThePeriodWithItsMessage) {
    PluginClassSwap swap("");
    HMODULE dll = LoadLibraryA((productFolder() + "\\HarnwickLive.dll").c_str());
    ASSERT_TRUE(dll);
    typedef int(WINAPI * Entry)(int);
    Entry entry = reinterpret_cast<Entry>(reinterpret_cast<void*>(GetProcAddress(dll, "MainEntryPoint")));
    ASSERT_TRUE(entry);
    std::string text;
    std::thread answer([&] { text = answerMessageBox("Harnwick", 15000); });
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    EXPECT_EQ(1, entry(0));
    CoUninitialize();
    answer.join();
    EXPECT_EQ("Could not create plugin graph. Check your DirectX installation.", text);
    EXPECT_EQ(std::string::npos, traceview("").find("Is pPlugin completely released?")) << "nothing runs after";
    FreeLibrary(dll);
}

}  // namespace
