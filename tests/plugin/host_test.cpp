// The host program: registering the plug-in beside it when its class is
// missing, loading HarnwickLive.dll and calling its entry in a
// single-threaded apartment, and the messages when something is missing.
// The last tests run the real HarnwickLive.exe from a folder of its own.
#include <string>

#include "amptest.h"
#include "drive.h"
#include "hostlaunch.h"
#include "registration.h"
#include "support/regdeny.h"

namespace {

const char kFakeEntry[] = "fake_live_entry.dll";

bool copyBeside(const std::string& from, const std::string& folder, const char* name) {
    return CopyFileA(pluginPath(from).c_str(), (folder + "\\" + name).c_str(), FALSE) != 0;
}

std::string readText(const std::string& path) {
    std::vector<unsigned char> bytes = readFileBytes(path);
    return std::string(bytes.begin(), bytes.end());
}

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// Runs <folder>\HarnwickLive.exe; reads and answers with OK a message box it
// shows. The exit code, or -1 when it did not end within 30 s.
struct ProgramRun {
    DWORD exitCode = DWORD(-1);
    std::string boxText;
};

ProgramRun runProgram(const std::string& folder) {
    ProgramRun run;
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    const std::string exe = folder + "\\HarnwickLive.exe";
    if (!CreateProcessA(exe.c_str(), nullptr, nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(), &si, &pi))
        return run;
    for (int waited = 0; waited < 30000 && WaitForSingleObject(pi.hProcess, 50) == WAIT_TIMEOUT; waited += 50)
        if (HWND box = drive::waitForWindow("Harnwick Live", 0)) run.boxText = drive::answerMessageBox(box);
    if (WaitForSingleObject(pi.hProcess, 0) != WAIT_OBJECT_0) TerminateProcess(pi.hProcess, 99);
    GetExitCodeProcess(pi.hProcess, &run.exitCode);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return run;
}

}  // namespace

using HostTest = AmpComTest;

TEST_F(HostTest, RegistersThePluginBesideTheProgramOnlyWhenItsClassIsMissingOrStale) {
    MessageBoxRecorder boxes;
    {
        PluginClassSwap none("");
        ASSERT_EQ(S_OK, none.result());
        EXPECT_TRUE(ensurePluginRegistered(moduleFolder(nullptr)));
        EXPECT_EQ(pluginPath(kAmpPlugin), registeredServerPath(CLSID_HarnwickAmp));
    }
    {
        PluginClassSwap other(kNoPagesPlugin);
        EXPECT_TRUE(ensurePluginRegistered(moduleFolder(nullptr)));
        EXPECT_EQ(pluginPath(kNoPagesPlugin), registeredServerPath(CLSID_HarnwickAmp));
    }
    {
        // A registration left behind by an installation that is gone.
        PluginClassSwap none("");
        HKEY key;
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CLASSES_ROOT,
                                                 "CLSID\\{8C5FA956-AA2A-4623-8BDC-E495166C892E}\\InprocServer32", 0,
                                                 nullptr, 0, KEY_WRITE, nullptr, &key, nullptr));
        const char stale[] = "C:\\nowhere\\HarnwickAmp.dll";
        RegSetValueExA(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(stale), sizeof stale);
        RegCloseKey(key);
        ASSERT_EQ(stale, registeredServerPath(CLSID_HarnwickAmp));
        EXPECT_TRUE(ensurePluginRegistered(moduleFolder(nullptr)));
        EXPECT_EQ(pluginPath(kAmpPlugin), registeredServerPath(CLSID_HarnwickAmp));
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

    EXPECT_EQ(S_OK, callServerRegistrationForUser(plugin.c_str(), false));
    EXPECT_EQ(S_OK, callServerRegistrationForUser(live.c_str(), false));
    EXPECT_EQ("", userServerPath(CLSID_HarnwickAmp));
    EXPECT_EQ("", userServerPath(reader));
}

TEST_F(HostTest, TellsTheUserWhenThePluginIsMissingOrCannotRegister) {
    MessageBoxRecorder boxes;
    PluginClassSwap none("");
    EXPECT_FALSE(ensurePluginRegistered(tempDir()));
    ASSERT_EQ(1u, boxes.calls().size());
    EXPECT_EQ("Harnwick Live", boxes.calls()[0].caption);
    EXPECT_EQ(UINT(MB_OK | MB_ICONERROR), boxes.calls()[0].flags);
    EXPECT_TRUE(contains(boxes.calls()[0].text, "HarnwickAmp.dll")) << boxes.calls()[0].text;
    EXPECT_TRUE(contains(boxes.calls()[0].text, tempDir())) << boxes.calls()[0].text;

    // A file of that name that is no DLL.
    FILE* f = fopen(tempPath("HarnwickAmp.dll").c_str(), "wb");
    ASSERT_NE(nullptr, f);
    fputs("not a library", f);
    fclose(f);
    EXPECT_FALSE(ensurePluginRegistered(tempDir()));
    ASSERT_EQ(2u, boxes.calls().size());
    EXPECT_TRUE(contains(boxes.calls()[1].text, "could not be registered")) << boxes.calls()[1].text;
    EXPECT_FALSE(isClassRegistered(CLSID_HarnwickAmp));
}

TEST_F(HostTest, TellsTheUserWhenTheLiveDllOrItsEntryIsMissing) {
    MessageBoxRecorder boxes;
    EXPECT_FALSE(runLiveEntry(tempDir()));
    ASSERT_EQ(1u, boxes.calls().size());
    EXPECT_EQ("Harnwick Live", boxes.calls()[0].caption);
    EXPECT_TRUE(contains(boxes.calls()[0].text, tempPath("HarnwickLive.dll"))) << boxes.calls()[0].text;

    ASSERT_TRUE(copyBeside(kAmpPlugin, tempDir(), "HarnwickLive.dll"));  // a DLL without the entry
    EXPECT_FALSE(runLiveEntry(tempDir()));
    ASSERT_EQ(2u, boxes.calls().size());
    EXPECT_TRUE(contains(boxes.calls()[1].text, "has no entry MainEntryPoint")) << boxes.calls()[1].text;
}

TEST_F(HostTest, CallsTheEntryOfTheDllBesideIt) {
    MessageBoxRecorder boxes;
    ASSERT_TRUE(copyBeside(kFakeEntry, tempDir(), "HarnwickLive.dll"));
    EXPECT_TRUE(runLiveEntry(tempDir()));
    EXPECT_EQ("apartment=STA arg=0 registered=yes", readText(tempPath("entry-called.txt")));
    EXPECT_TRUE(boxes.calls().empty());
}

TEST_F(HostTest, ProgramRegistersThePluginThenRunsTheEntryInASingleThreadedApartment) {
    ASSERT_TRUE(copyBeside("HarnwickLive.exe", tempDir(), "HarnwickLive.exe"));
    ASSERT_TRUE(copyBeside(kAmpPlugin, tempDir(), "HarnwickAmp.dll"));
    ASSERT_TRUE(copyBeside(kFakeEntry, tempDir(), "HarnwickLive.dll"));
    PluginClassSwap none("");
    ProgramRun run = runProgram(tempDir());
    EXPECT_EQ(0u, run.exitCode);
    EXPECT_EQ("", run.boxText);
    EXPECT_EQ(tempPath("HarnwickAmp.dll"), registeredServerPath(CLSID_HarnwickAmp));
    EXPECT_EQ("apartment=STA arg=0 registered=yes", readText(tempPath("entry-called.txt")));
}

TEST_F(HostTest, ProgramShowsItsMessageWhenTheLiveDllIsMissing) {
    ASSERT_TRUE(copyBeside("HarnwickLive.exe", tempDir(), "HarnwickLive.exe"));
    ProgramRun run = runProgram(tempDir());  // the real plug-in stays registered
    EXPECT_EQ(1u, run.exitCode);
    EXPECT_TRUE(contains(run.boxText, "HarnwickLive.dll")) << run.boxText;
}
