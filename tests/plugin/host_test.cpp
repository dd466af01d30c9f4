// The host program: registering the plug-in beside it when its class is
// missing, loading HarnwickLive.dll and calling its entry in a
// single-threaded apartment, and the messages when something is missing.
// The last test runs the real HarnwickLive.exe from a folder of its own.
#include <cstring>
#include <functional>
#include <string>

#include "amptest.h"
#include "drive.h"
#include "hostlaunch.h"
#include "registration.h"
#include "support/regdeny.h"

namespace {

const char kFakeEntry[] = "fake_live_entry.dll";
const char kServerKey[] = "CLSID\\{8C5FA956-AA2A-4623-8BDC-E495166C892E}\\InprocServer32";

bool copyBeside(const std::string& from, const std::string& folder, const char* name) {
    return CopyFileA(pluginPath(from).c_str(), (folder + "\\" + name).c_str(), FALSE) != 0;
}

std::string readText(const std::string& path) {
    std::vector<unsigned char> bytes = readFileBytes(path);
    return std::string(bytes.begin(), bytes.end());
}

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// Runs <folder>\HarnwickLive.exe; reads and answers with OK a message box it
// shows. Its exit code (-1 when it did not end within 30 s) and the box's text.
std::pair<DWORD, std::string> runProgram(const std::string& folder) {
    std::pair<DWORD, std::string> run(DWORD(-1), "");
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessA((folder + "\\HarnwickLive.exe").c_str(), nullptr, nullptr, nullptr, FALSE, 0, nullptr,
                        folder.c_str(), &si, &pi))
        return run;
    for (int waited = 0; waited < 30000 && WaitForSingleObject(pi.hProcess, 50) == WAIT_TIMEOUT; waited += 50)
        if (HWND box = drive::waitForWindow("Harnwick Live", 0)) run.second = drive::answerMessageBox(box);
    if (WaitForSingleObject(pi.hProcess, 0) != WAIT_OBJECT_0) TerminateProcess(pi.hProcess, 99);
    GetExitCodeProcess(pi.hProcess, &run.first);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return run;
}

}  // namespace

using HostTest = AmpComTest;

TEST_F(HostTest, RegistersThePluginBesideTheProgramOnlyWhenItsClassIsMissingOrStale) {
    MessageBoxRecorder boxes;
    struct Case {
        const char* registered;  // "" for none, or a path left by an installation that is gone
        std::string expected;
    } cases[] = {{"", pluginPath(kAmpPlugin)},
                 {kNoPagesPlugin, pluginPath(kNoPagesPlugin)},
                 {"C:\\nowhere\\HarnwickAmp.dll", pluginPath(kAmpPlugin)}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.registered);
        PluginClassSwap swap(c.registered[0] == 'C' ? "" : c.registered);
        if (c.registered[0] == 'C')
            RegSetValueA(HKEY_CLASSES_ROOT, kServerKey, REG_SZ, c.registered, DWORD(strlen(c.registered)));
        EXPECT_TRUE(ensurePluginRegistered(moduleFolder(nullptr)));
        EXPECT_EQ(c.expected, registeredServerPath(CLSID_HarnwickAmp));
    }
    EXPECT_TRUE(boxes.calls().empty());
}

TEST_F(HostTest, RegistersThePluginAndTheLiveDllForTheUserWhenMachineWideRegistrationIsRefused) {
    MessageBoxRecorder boxes;
    PluginClassSwap none("");
    // As for a standard user: the plug-in's machine-wide class key is not writable.
    RegistryWriteDenial denial(HKEY_LOCAL_MACHINE, "Software\\Classes\\CLSID\\{8C5FA956-AA2A-4623-8BDC-E495166C892E}");
    ASSERT_EQ(ERROR_SUCCESS, denial.result());
    const std::string plugin = pluginPath(kAmpPlugin), live = pluginPath("HarnwickLive.dll");
    ASSERT_EQ(E_ACCESSDENIED, callServerRegistration(plugin.c_str(), true));

    EXPECT_TRUE(ensurePluginRegistered(moduleFolder(nullptr)));
    CLSID reader;
    CLSIDFromString(L"{6A1C6D21-3F0B-4E4B-9C5A-2B7E8D10A4C1}", &reader);
    EXPECT_EQ(plugin, userServerPath(CLSID_HarnwickAmp));
    EXPECT_EQ(live, userServerPath(reader));
    EXPECT_TRUE(boxes.calls().empty());
    callServerRegistrationForUser(plugin.c_str(), false);  // per-user classes would hide the machine's
    callServerRegistrationForUser(live.c_str(), false);
}

TEST_F(HostTest, TellsTheUserWhatIsMissingOrBroken) {
    PluginClassSwap none("");
    auto notALibrary = [&] {
        FILE* f = fopen(tempPath("HarnwickAmp.dll").c_str(), "wb");
        fputs("not a library", f);
        fclose(f);
    };
    auto liveWithoutEntry = [&] { copyBeside(kAmpPlugin, tempDir(), "HarnwickLive.dll"); };
    struct Case {
        std::function<void()> prepare;
        bool registering;  // the plug-in's registration, else the live DLL's entry
        std::string expected;
    } cases[] = {{[] {}, true, "HarnwickAmp.dll was not found beside Harnwick Live in\n" + tempDir()},
                 {notALibrary, true, "could not be registered"},
                 {[] {}, false, tempPath("HarnwickLive.dll")},
                 {liveWithoutEntry, false, "has no entry MainEntryPoint"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.expected);
        MessageBoxRecorder boxes;
        c.prepare();
        EXPECT_FALSE(c.registering ? ensurePluginRegistered(tempDir()) : runLiveEntry(tempDir()));
        ASSERT_EQ(1u, boxes.calls().size());
        EXPECT_EQ("Harnwick Live", boxes.calls()[0].caption);
        EXPECT_EQ(UINT(MB_OK | MB_ICONERROR), boxes.calls()[0].flags);
        EXPECT_TRUE(contains(boxes.calls()[0].text, c.expected)) << boxes.calls()[0].text;
    }
    EXPECT_FALSE(isClassRegistered(CLSID_HarnwickAmp));
}

TEST_F(HostTest, ProgramRegistersThePluginThenRunsTheEntryInASingleThreadedApartment) {
    ASSERT_TRUE(copyBeside("HarnwickLive.exe", tempDir(), "HarnwickLive.exe"));
    ASSERT_TRUE(copyBeside(kAmpPlugin, tempDir(), "HarnwickAmp.dll"));
    ASSERT_TRUE(copyBeside(kFakeEntry, tempDir(), "HarnwickLive.dll"));
    PluginClassSwap none("");
    auto run = runProgram(tempDir());
    EXPECT_EQ(0u, run.first);
    EXPECT_EQ("", run.second);
    EXPECT_EQ(tempPath("HarnwickAmp.dll"), registeredServerPath(CLSID_HarnwickAmp));
    EXPECT_EQ("apartment=STA arg=0 registered=yes", readText(tempPath("entry-called.txt")));
}
