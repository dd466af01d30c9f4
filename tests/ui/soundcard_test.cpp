// The soundcard properties dialog, opened for real under Xvfb and worked
// through window messages, against Wine's wave and DirectSound devices on the
// virtual soundcard and against replaced enumerations.
#include <string>
#include <vector>

#include "settings/settings.h"
#include "support/testenv.h"
#include "ui/dialogdriver.h"
#include "ui/dialogs.h"
#include "ui/resource.h"

namespace {

const char* const kCaption = "Soundcard properties";

const int kDirectSoundIds[] = {1038, 1039, 1040, 1041, 1024, 1030, 1028, 1033, 1042, 1043, 1050, 1053, 1054, 1055};
const int kLegacyIds[] = {1044, 1026, 1045, 1048, 1049, 1051, 1052};
const int kAlwaysEnabledIds[] = {1027, 1021, 1023, 1056, 1057, 1060, 1025, IDOK, IDCANCEL};

class SoundcardDialogTest : public HarnwickTest {};

std::string setting(const char* name) { return readSettingText(name); }

// The names of the values the settings store hands to the registry, in order.
std::vector<std::string> g_written;
LONG WINAPI recordWrite(HKEY key, LPCSTR name, DWORD reserved, DWORD type, const BYTE* data, DWORD bytes) {
    g_written.push_back(name);
    return RegSetValueExA(key, name, reserved, type, data, bytes);
}

void expectMode(HWND dialog, bool directSound) {
    EXPECT_EQ(directSound, isTicked(dialog, IDC_SCARD_DX_MODE));
    EXPECT_EQ(!directSound, isTicked(dialog, IDC_SCARD_LEGACY_MODE));
    for (int id : kDirectSoundIds) EXPECT_EQ(directSound, isEnabled(dialog, id)) << "control " << id;
    for (int id : kLegacyIds) EXPECT_EQ(!directSound, isEnabled(dialog, id)) << "control " << id;
    for (int id : kAlwaysEnabledIds) EXPECT_TRUE(isEnabled(dialog, id)) << "control " << id;
}

// What the fields and boxes show, in the order the dialog lays them out.
struct Shown {
    const char *sampleRate, *dxChunk, *legacyChunk, *resyncSeconds, *latencyMs;
    bool stereo, accelerated, ownThread, saveInput, saveOutput;
};

void expectShown(HWND dialog, const Shown& s) {
    EXPECT_EQ(s.sampleRate, textOf(dialog, IDC_SCARD_SAMPLE_RATE));
    EXPECT_EQ(s.dxChunk, textOf(dialog, IDC_SCARD_DX_CHUNK));
    EXPECT_EQ(s.legacyChunk, textOf(dialog, IDC_SCARD_LEGACY_CHUNK));
    EXPECT_EQ(s.resyncSeconds, textOf(dialog, IDC_SCARD_RESYNC_SECONDS));
    EXPECT_EQ(s.latencyMs, textOf(dialog, IDC_SCARD_LATENCY_MS));
    EXPECT_EQ(s.stereo, isTicked(dialog, IDC_SCARD_STEREO));
    EXPECT_EQ(s.accelerated, isTicked(dialog, IDC_SCARD_ACCELERATED));
    EXPECT_EQ(s.ownThread, isTicked(dialog, IDC_SCARD_OWN_THREAD));
    EXPECT_EQ(s.saveInput, isTicked(dialog, IDC_SCARD_SAVE_INPUT));
    EXPECT_EQ(s.saveOutput, isTicked(dialog, IDC_SCARD_SAVE_OUTPUT));
}

TEST_F(SoundcardDialogTest, NothingStoredShowsDefaultsStoresThemAtOnceAndCancelWritesNothingMore) {
    std::map<std::string, std::string> whileOpen;
    INT_PTR result = driveDialog([] { return showSoundcardDialog(nullptr); },
                                 [&] {
                                     HWND dialog = waitForDialog(kCaption);
                                     ASSERT_TRUE(dialog);
                                     EXPECT_TRUE(isCentred(dialog));
                                     expectShown(dialog, {"44100", "1024", "512", "1", "0", true, false,
                                                          false, false, false});
                                     expectMode(dialog, false);
                                     // The user changes fields, then thinks better of it.
                                     setText(dialog, IDC_SCARD_SAMPLE_RATE, "96000");
                                     press(dialog, IDC_SCARD_STEREO);
                                     drain(dialog);
                                     whileOpen = settingsSnapshot();
                                     press(dialog, IDCANCEL);
                                 });
    EXPECT_EQ(0, result);
    std::map<std::string, std::string> expected = {
        {"srate", "44100"}, {"channels", "2"}, {"chunks", "1024"}, {"chunks_wave", "512"}};
    EXPECT_EQ(expected, whileOpen) << "only the out-of-range values are written back at opening";
    EXPECT_EQ(expected, settingsSnapshot()) << "Cancel writes nothing more";
}

TEST_F(SoundcardDialogTest, StoredValuesAreShownAndOutOfRangeOnesRepaired) {
    writeSettingText("srate", "abc");
    writeSettingText("channels", "3");
    writeSettingText("chunks", "9000");
    writeSettingText("chunks_wave", "5");
    writeSettingText("resync second", "0");
    writeSettingText("out lat ms", "25");
    writeSettingText("USE_DIRECTX", "TRUE");
    writeSettingText("PRIMARY", "TRUE");
    writeSettingText("DONT USE WINDOWS DX HANDLER", "TRUE");
    writeSettingText("SAVE_INPUT", "TRUE");
    writeSettingText("SAVE_OUTPUT", "yes");  // only "TRUE" is true
    driveDialog([] { return showSoundcardDialog(nullptr); },
                [&] {
                    HWND dialog = waitForDialog(kCaption);
                    ASSERT_TRUE(dialog);
                    // 3 channels is not stereo; "yes" is not "TRUE".
                    expectShown(dialog, {"44100", "9000", "512", "1", "25", false, true, true, true, false});
                    expectMode(dialog, true);
                    press(dialog, IDCANCEL);
                });
    EXPECT_EQ("44100", setting("srate"));
    EXPECT_EQ("3", setting("channels")) << "3 is in range and stays";
    EXPECT_EQ("9000", setting("chunks")) << "the dialog does not clamp from above";
    EXPECT_EQ("512", setting("chunks_wave"));
    EXPECT_EQ("0", setting("resync second")) << "the shown 1 is not written back";
}

TEST_F(SoundcardDialogTest, ModeRadiosSwitchTheGroups) {
    writeSettingText("USE_DIRECTX", "TRUE");
    INT_PTR result = driveDialog([] { return showSoundcardDialog(nullptr); },
                                 [&] {
                                     HWND dialog = waitForDialog(kCaption);
                                     ASSERT_TRUE(dialog);
                                     expectMode(dialog, true);
                                     press(dialog, IDC_SCARD_LEGACY_MODE);
                                     drain(dialog);  // the click posts the refresh
                                     expectMode(dialog, false);
                                     press(dialog, IDC_SCARD_DX_MODE);
                                     drain(dialog);
                                     expectMode(dialog, true);
                                     press(dialog, IDC_SCARD_LEGACY_MODE);
                                     drain(dialog);
                                     expectMode(dialog, false);
                                     press(dialog, IDOK);
                                 });
    EXPECT_EQ(1, result);
    EXPECT_EQ("FALSE", setting("USE_DIRECTX"));
}

TEST_F(SoundcardDialogTest, OkStoresEveryValueInOrderWhateverTheMode) {
    // In range, so that opening writes nothing back.
    const std::map<std::string, std::string> stored = {{"srate", "44100"},        {"channels", "2"},
                                                       {"chunks", "1024"},        {"chunks_wave", "512"},
                                                       {"DONT RESAMPLE", "FALSE"}, {"WAVE_IN_DEVICE", "1"}};
    for (const auto& value : stored) writeSettingText(value.first.c_str(), value.second.c_str());
    PlatformOverride seam;
    seam.api().regSetValueExA = recordWrite;
    g_written.clear();
    INT_PTR result = driveDialog([] { return showSoundcardDialog(nullptr); },
                                 [&] {
                                     HWND dialog = waitForDialog(kCaption);
                                     ASSERT_TRUE(dialog);
                                     setText(dialog, IDC_SCARD_SAMPLE_RATE, "48000");
                                     setText(dialog, IDC_SCARD_RESYNC_SECONDS, "3");
                                     setText(dialog, IDC_SCARD_LATENCY_MS, "15");
                                     // The DirectSound group is disabled in legacy mode; its values are still stored.
                                     setText(dialog, IDC_SCARD_DX_CHUNK, "256");
                                     setText(dialog, IDC_SCARD_LEGACY_CHUNK, "9000");
                                     SendDlgItemMessageA(dialog, IDC_SCARD_ACCELERATED, BM_SETCHECK, BST_CHECKED, 0);
                                     SendDlgItemMessageA(dialog, IDC_SCARD_OWN_THREAD, BM_SETCHECK, BST_CHECKED, 0);
                                     press(dialog, IDC_SCARD_STEREO);
                                     selectEntry(dialog, IDC_SCARD_LEGACY_OUT, 1);
                                     selectEntry(dialog, IDC_SCARD_DX_OUT, 1);
                                     selectEntry(dialog, IDC_SCARD_DX_IN, 0);
                                     press(dialog, IDOK);
                                 });
    EXPECT_EQ(1, result);
    std::vector<std::string> order = {"WAVE_OUT_DEVICE", "WAVE_IN_DEVICE", "DX_OUT_DEVICE", "DX_IN_DEVICE",
                                      "resync second", "out lat ms", "DONT USE WINDOWS DX HANDLER", "srate",
                                      "chunks_wave", "chunks", "channels", "PRIMARY", "USE_DIRECTX", "SAVE_INPUT",
                                      "SAVE_OUTPUT", "DONT RESAMPLE"};
    EXPECT_EQ(order, g_written);
    std::map<std::string, std::string> expected = {
        {"WAVE_OUT_DEVICE", "1"}, {"WAVE_IN_DEVICE", "1"}, {"DX_OUT_DEVICE", "1"}, {"DX_IN_DEVICE", "0"},
        {"resync second", "3"}, {"out lat ms", "15"}, {"DONT USE WINDOWS DX HANDLER", "TRUE"}, {"srate", "48000"},
        {"chunks_wave", "9000"}, {"chunks", "256"}, {"channels", "1"}, {"PRIMARY", "TRUE"}, {"USE_DIRECTX", "FALSE"},
        {"SAVE_INPUT", "FALSE"}, {"SAVE_OUTPUT", "FALSE"}, {"DONT RESAMPLE", "TRUE"}};
    EXPECT_EQ(expected, settingsSnapshot());
}

TEST_F(SoundcardDialogTest, EmptiedRateIsStoredAsZeroAndRepairedAtTheNextOpening) {
    driveDialog([] { return showSoundcardDialog(nullptr); },
                [&] {
                    HWND dialog = waitForDialog(kCaption);
                    ASSERT_TRUE(dialog);
                    setText(dialog, IDC_SCARD_SAMPLE_RATE, "");
                    press(dialog, IDOK);
                });
    EXPECT_EQ("0", setting("srate"));
    EXPECT_EQ(44100, readSampleRate());
    driveDialog([] { return showSoundcardDialog(nullptr); },
                [&] {
                    HWND dialog = waitForDialog(kCaption);
                    ASSERT_TRUE(dialog);
                    EXPECT_EQ("44100", textOf(dialog, IDC_SCARD_SAMPLE_RATE));
                    EXPECT_EQ("44100", setting("srate"));
                    press(dialog, IDCANCEL);
                });
}

// What Wine reports for the virtual soundcard, gathered without the dialog.
std::vector<ListEntry> legacyDevices(UINT count, bool input) {
    std::vector<ListEntry> entries;
    if (count == 0) return entries;
    for (int position = 0; position <= static_cast<int>(count); ++position) {
        UINT_PTR id = position == 0 ? static_cast<UINT_PTR>(WAVE_MAPPER) : position - 1;
        char name[MAXPNAMELEN] = {};
        if (input) {
            WAVEINCAPSA caps = {};
            waveInGetDevCapsA(id, &caps, sizeof caps);
            strcpy(name, caps.szPname);
        } else {
            WAVEOUTCAPSA caps = {};
            waveOutGetDevCapsA(id, &caps, sizeof caps);
            strcpy(name, caps.szPname);
        }
        entries.push_back({name, position});
    }
    return entries;
}

BOOL CALLBACK collectDevice(LPGUID, LPCSTR description, LPCSTR, LPVOID context) {
    auto* entries = static_cast<std::vector<ListEntry>*>(context);
    entries->push_back({description, static_cast<LONG_PTR>(entries->size())});
    return TRUE;
}

std::vector<ListEntry> directSoundDevices(HRESULT(WINAPI* enumerate)(LPDSENUMCALLBACKA, LPVOID)) {
    std::vector<ListEntry> entries;
    enumerate(collectDevice, &entries);
    return entries;
}

TEST_F(SoundcardDialogTest, DeviceListsComeFromTheSoundcardAndRestoreTheStoredSelection) {
    std::vector<ListEntry> waveIn = legacyDevices(waveInGetNumDevs(), true);
    std::vector<ListEntry> waveOut = legacyDevices(waveOutGetNumDevs(), false);
    std::vector<ListEntry> dsOut = directSoundDevices(DirectSoundEnumerateA);
    std::vector<ListEntry> dsIn = directSoundDevices(DirectSoundCaptureEnumerateA);
    ASSERT_GE(waveOut.size(), 2u) << "the virtual soundcard should offer the mapper and a device";
    ASSERT_GE(waveIn.size(), 2u);
    ASSERT_GE(dsOut.size(), 2u);
    ASSERT_GE(dsIn.size(), 2u);

    writeSettingText("WAVE_IN_DEVICE", "99");  // beyond the list: nothing selected, stays stored
    writeSettingText("DX_IN_DEVICE", "1");
    driveDialog([] { return showSoundcardDialog(nullptr); },
                [&] {
                    HWND dialog = waitForDialog(kCaption);
                    ASSERT_TRUE(dialog);
                    EXPECT_EQ(waveIn, listEntries(dialog, IDC_SCARD_LEGACY_IN));
                    EXPECT_EQ(waveOut, listEntries(dialog, IDC_SCARD_LEGACY_OUT));
                    EXPECT_EQ(dsOut, listEntries(dialog, IDC_SCARD_DX_OUT));
                    EXPECT_EQ(dsIn, listEntries(dialog, IDC_SCARD_DX_IN));
                    EXPECT_EQ(-1, listSelection(dialog, IDC_SCARD_LEGACY_IN));
                    EXPECT_EQ(0, listSelection(dialog, IDC_SCARD_LEGACY_OUT)) << "missing selects the mapper";
                    EXPECT_EQ(0, listSelection(dialog, IDC_SCARD_DX_OUT));
                    EXPECT_EQ(1, listSelection(dialog, IDC_SCARD_DX_IN));
                    selectEntry(dialog, IDC_SCARD_LEGACY_OUT, 1);  // the first real device
                    press(dialog, IDOK);
                });
    EXPECT_EQ("1", setting("WAVE_OUT_DEVICE"));
    EXPECT_EQ("99", setting("WAVE_IN_DEVICE")) << "a list without selection writes nothing";
    EXPECT_EQ("1", setting("DX_IN_DEVICE"));
    driveDialog([] { return showSoundcardDialog(nullptr); },
                [&] {
                    HWND dialog = waitForDialog(kCaption);
                    ASSERT_TRUE(dialog);
                    EXPECT_EQ(1, listSelection(dialog, IDC_SCARD_LEGACY_OUT));
                    EXPECT_EQ(waveOut[1].text, listEntries(dialog, IDC_SCARD_LEGACY_OUT)[1].text);
                    press(dialog, IDCANCEL);
                });
}

HRESULT WINAPI enumerateNothing(LPDSENUMCALLBACKA, LPVOID) { return DS_OK; }
UINT WINAPI noWaveDevices() { return 0; }

TEST_F(SoundcardDialogTest, WithoutDevicesTheListsShowThePlaceholderOrNothing) {
    PlatformOverride fake;
    fake.api().directSoundEnumerateA = enumerateNothing;
    fake.api().directSoundCaptureEnumerateA = enumerateNothing;
    fake.api().waveOutGetNumDevs = noWaveDevices;
    writeSettingText("DX_OUT_DEVICE", "3");
    writeSettingText("DX_IN_DEVICE", "2");
    writeSettingText("WAVE_OUT_DEVICE", "2");
    std::vector<ListEntry> placeholder = {{"<No DirectX capable device>", -100}};
    driveDialog([] { return showSoundcardDialog(nullptr); },
                [&] {
                    HWND dialog = waitForDialog(kCaption);
                    ASSERT_TRUE(dialog);
                    EXPECT_EQ(placeholder, listEntries(dialog, IDC_SCARD_DX_OUT));
                    EXPECT_EQ(placeholder, listEntries(dialog, IDC_SCARD_DX_IN));
                    EXPECT_EQ(-1, listSelection(dialog, IDC_SCARD_DX_OUT));
                    EXPECT_EQ(-1, listSelection(dialog, IDC_SCARD_DX_IN));
                    EXPECT_TRUE(listEntries(dialog, IDC_SCARD_LEGACY_OUT).empty());
                    EXPECT_FALSE(listEntries(dialog, IDC_SCARD_LEGACY_IN).empty()) << "input devices are real";
                    selectEntry(dialog, IDC_SCARD_DX_IN, 0);  // the user picks the placeholder
                    press(dialog, IDOK);
                });
    EXPECT_EQ("3", setting("DX_OUT_DEVICE"));
    EXPECT_EQ("-100", setting("DX_IN_DEVICE"));
    EXPECT_EQ("2", setting("WAVE_OUT_DEVICE"));
}

// The folder browser as the user answers it: a chosen folder or Cancel.
struct BrowserFake {
    static int calls;
    static HWND owner;
    static std::string title;
    static UINT flags;
    static std::string answer;  // empty: the user cancels
    static PIDLIST_ABSOLUTE WINAPI browse(LPBROWSEINFOA info) {
        ++calls;
        owner = info->hwndOwner;
        title = info->lpszTitle ? info->lpszTitle : "";
        flags = info->ulFlags;
        return answer.empty() ? nullptr : ILCreateFromPathA(answer.c_str());
    }
};
int BrowserFake::calls;
HWND BrowserFake::owner;
std::string BrowserFake::title;
UINT BrowserFake::flags;
std::string BrowserFake::answer;

TEST_F(SoundcardDialogTest, TickingASaveBoxWithoutDirectoryOpensTheFolderBrowser) {
    PlatformOverride fake;
    fake.api().shBrowseForFolderA = BrowserFake::browse;
    BrowserFake::calls = 0;
    BrowserFake::answer.clear();
    writeSettingText("DISK_OUTPUT_DIRECTORY", (tempDir() + "\\gone").c_str());  // no longer exists
    HWND seenDialog = nullptr;
    driveDialog([] { return showSoundcardDialog(nullptr); },
                [&] {
                    HWND dialog = waitForDialog(kCaption);
                    ASSERT_TRUE(dialog);
                    seenDialog = dialog;
                    press(dialog, IDC_SCARD_SAVE_INPUT);
                    drain(dialog);
                    EXPECT_EQ(1, BrowserFake::calls);
                    EXPECT_TRUE(isTicked(dialog, IDC_SCARD_SAVE_INPUT)) << "stays ticked after a cancelled browse";
                    press(dialog, IDC_SCARD_SAVE_INPUT);  // unticking asks nothing
                    drain(dialog);
                    EXPECT_EQ(1, BrowserFake::calls);
                    BrowserFake::answer = tempDir();
                    press(dialog, IDC_SCARD_SAVE_OUTPUT);
                    drain(dialog);
                    EXPECT_EQ(2, BrowserFake::calls);
                    press(dialog, IDC_SCARD_SAVE_INPUT);  // a usable directory now: no browser
                    drain(dialog);
                    EXPECT_EQ(2, BrowserFake::calls);
                    press(dialog, IDOK);
                });
    EXPECT_EQ(seenDialog, BrowserFake::owner);
    EXPECT_EQ("Choose output directory", BrowserFake::title);
    EXPECT_EQ(9u, BrowserFake::flags);
    EXPECT_EQ(tempDir(), setting("DISK_OUTPUT_DIRECTORY"));
    EXPECT_EQ("TRUE", setting("SAVE_INPUT"));
    EXPECT_EQ("TRUE", setting("SAVE_OUTPUT"));
}

TEST_F(SoundcardDialogTest, OptionsAndQuickHelpOpenTheirDialogsOverThisOne) {
    INT_PTR result = driveDialog([] { return showSoundcardDialog(nullptr); },
                                 [&] {
                                     HWND dialog = waitForDialog(kCaption);
                                     ASSERT_TRUE(dialog);
                                     press(dialog, IDC_SCARD_DISK_OPTIONS);
                                     HWND disk = waitForDialog("Save to disk");
                                     ASSERT_TRUE(disk);
                                     EXPECT_EQ(dialog, GetWindow(disk, GW_OWNER));
                                     press(disk, IDOK);
                                     press(dialog, IDC_SCARD_QUICK_HELP);
                                     HWND page = waitForDialog("Harnwick Live configuration wizard");
                                     ASSERT_TRUE(page);
                                     EXPECT_EQ(dialog, GetWindow(page, GW_OWNER));
                                     press(page, IDCANCEL);
                                     drain(dialog);
                                     press(dialog, IDCANCEL);
                                 });
    EXPECT_EQ(0, result);
    EXPECT_EQ("Harnwick Input Signal.wav", setting("SAVE_INPUT_FILENAME")) << "Done stored the names";
}

}  // namespace
