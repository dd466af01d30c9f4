// The soundcard properties dialog, opened for real under Xvfb and worked through
// window messages, against the virtual soundcard and replaced enumerations.
#include "settings/settings.h"
#include "support/testenv.h"
#include "ui/dialogs.h"
#include "ui/resource.h"
#include "uitest.h"

namespace {

const int kDirectSoundIds[] = {1038, 1039, 1040, 1041, 1024, 1030, 1028, 1033, 1042, 1043, 1050, 1053, 1054, 1055};
const int kLegacyIds[] = {1044, 1026, 1045, 1048, 1049, 1051, 1052};
const int kAlwaysEnabledIds[] = {1027, 1021, 1023, 1056, 1057, 1060, 1025, IDOK, IDCANCEL};

class SoundcardDialogTest : public HarnwickTest {};

using Settings = std::map<std::string, std::string>;

void store(const Settings& values) {
    for (const auto& v : values) writeSettingText(v.first.c_str(), v.second.c_str());
}

INT_PTR withSoundcardDialog(const std::function<void(HWND)>& user) {
    return withDialog([] { return showSoundcardDialog(nullptr); }, "Soundcard properties", user);
}

void expectMode(HWND dialog, bool directSound) {
    EXPECT_EQ(directSound, isTicked(dialog, IDC_SCARD_DX_MODE));
    EXPECT_EQ(!directSound, isTicked(dialog, IDC_SCARD_LEGACY_MODE));
    for (int id : kDirectSoundIds) EXPECT_EQ(directSound, buttonEnabled(dialog, id)) << "control " << id;
    for (int id : kLegacyIds) EXPECT_EQ(!directSound, buttonEnabled(dialog, id)) << "control " << id;
    for (int id : kAlwaysEnabledIds) EXPECT_TRUE(buttonEnabled(dialog, id)) << "control " << id;
}

TEST_F(SoundcardDialogTest, OpeningShowsTheStoredValuesAndRepairsOnlyThoseOutOfRange) {
    const int fields[] = {IDC_SCARD_SAMPLE_RATE, IDC_SCARD_DX_CHUNK, IDC_SCARD_LEGACY_CHUNK, IDC_SCARD_RESYNC_SECONDS,
                          IDC_SCARD_LATENCY_MS};
    const int boxes[] = {IDC_SCARD_STEREO, IDC_SCARD_ACCELERATED, IDC_SCARD_OWN_THREAD, IDC_SCARD_SAVE_INPUT,
                         IDC_SCARD_SAVE_OUTPUT};
    struct Case {
        Settings stored;
        const char* texts[5];  // as the fields show them
        bool ticks[5];
        bool directSound;
        Settings repaired;  // what opening writes back
    } cases[] = {
        {{}, {"44100", "1024", "512", "1", "0"}, {true}, false,
         {{"srate", "44100"}, {"channels", "2"}, {"chunks", "1024"}, {"chunks_wave", "512"}}},
        // Odd values: 3 channels is not stereo, "yes" is not "TRUE", no clamping from above.
        {{{"srate", "abc"}, {"channels", "3"}, {"chunks", "9000"}, {"chunks_wave", "5"}, {"resync second", "0"},
          {"out lat ms", "25"}, {"USE_DIRECTX", "TRUE"}, {"PRIMARY", "TRUE"}, {"DONT USE WINDOWS DX HANDLER", "TRUE"},
          {"SAVE_INPUT", "TRUE"}, {"SAVE_OUTPUT", "yes"}},
         {"44100", "9000", "512", "1", "25"}, {false, true, true, true, false}, true,
         {{"srate", "44100"}, {"chunks_wave", "512"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.directSound ? "odd values" : "nothing stored");
        RegDeleteKeyA(HKEY_LOCAL_MACHINE, kSettingsKey);
        store(c.stored);
        Settings expected = c.stored, whileOpen;
        for (const auto& v : c.repaired) expected[v.first] = v.second;
        EXPECT_EQ(0, withSoundcardDialog([&](HWND dialog) {
                      EXPECT_TRUE(isCentred(dialog));
                      for (int i = 0; i < 5; ++i) {
                          EXPECT_EQ(c.texts[i], buttonText(dialog, fields[i])) << fields[i];
                          EXPECT_EQ(c.ticks[i], isTicked(dialog, boxes[i])) << boxes[i];
                      }
                      expectMode(dialog, c.directSound);
                      whileOpen = settingsSnapshot();
                      for (int id : {IDC_SCARD_LEGACY_MODE, IDC_SCARD_DX_MODE, IDC_SCARD_LEGACY_MODE}) {
                          pressButton(dialog, id);
                          drain(dialog);  // the click posts the refresh
                          expectMode(dialog, id == IDC_SCARD_DX_MODE);
                      }
                      // The user changes fields, then thinks better of it.
                      setText(dialog, IDC_SCARD_SAMPLE_RATE, "96000");
                      pressButton(dialog, IDC_SCARD_STEREO);
                      pressButton(dialog, IDCANCEL);
                  }));
        EXPECT_EQ(expected, whileOpen) << "only the out-of-range values are written back at opening";
        EXPECT_EQ(expected, settingsSnapshot()) << "Cancel writes nothing more";
    }
}

// The values the settings store hands to the registry, in order.
std::vector<std::pair<std::string, std::string>> g_written;
LONG WINAPI recordWrite(HKEY key, LPCSTR name, DWORD reserved, DWORD type, const BYTE* data, DWORD bytes) {
    g_written.push_back({name, reinterpret_cast<const char*>(data)});
    return RegSetValueExA(key, name, reserved, type, data, bytes);
}

TEST_F(SoundcardDialogTest, OkStoresEveryValueInOrderWhateverTheMode) {
    // In range, so that opening writes nothing back.
    store({{"srate", "44100"}, {"channels", "2"}, {"chunks", "1024"}, {"chunks_wave", "512"},
           {"DONT RESAMPLE", "FALSE"}, {"WAVE_IN_DEVICE", "1"}, {"USE_DIRECTX", "TRUE"}});
    PlatformOverride seam;
    seam.api().regSetValueExA = recordWrite;
    g_written.clear();
    EXPECT_EQ(1, withSoundcardDialog([](HWND dialog) {
                  pressButton(dialog, IDC_SCARD_LEGACY_MODE);
                  setText(dialog, IDC_SCARD_SAMPLE_RATE, "");  // read as 0, without range check
                  setText(dialog, IDC_SCARD_RESYNC_SECONDS, "3");
                  setText(dialog, IDC_SCARD_LATENCY_MS, "15");
                  // The DirectSound group is disabled in legacy mode; its values are still stored.
                  setText(dialog, IDC_SCARD_DX_CHUNK, "256");
                  setText(dialog, IDC_SCARD_LEGACY_CHUNK, "9000");
                  SendDlgItemMessageA(dialog, IDC_SCARD_ACCELERATED, BM_SETCHECK, BST_CHECKED, 0);
                  SendDlgItemMessageA(dialog, IDC_SCARD_OWN_THREAD, BM_SETCHECK, BST_CHECKED, 0);
                  pressButton(dialog, IDC_SCARD_STEREO);
                  selectEntry(dialog, IDC_SCARD_LEGACY_OUT, 1);
                  selectEntry(dialog, IDC_SCARD_DX_OUT, 1);
                  selectEntry(dialog, IDC_SCARD_DX_IN, 0);
                  pressButton(dialog, IDOK);
              }));
    const std::vector<std::pair<std::string, std::string>> written = {
        {"WAVE_OUT_DEVICE", "1"}, {"WAVE_IN_DEVICE", "1"}, {"DX_OUT_DEVICE", "1"}, {"DX_IN_DEVICE", "0"},
        {"resync second", "3"}, {"out lat ms", "15"}, {"DONT USE WINDOWS DX HANDLER", "TRUE"}, {"srate", "0"},
        {"chunks_wave", "9000"}, {"chunks", "256"}, {"channels", "1"}, {"PRIMARY", "TRUE"}, {"USE_DIRECTX", "FALSE"},
        {"SAVE_INPUT", "FALSE"}, {"SAVE_OUTPUT", "FALSE"}, {"DONT RESAMPLE", "TRUE"}};
    EXPECT_EQ(written, g_written);
}

// What Wine reports for the virtual soundcard, gathered without the dialog:
// the wave mapper first, then each device.
std::vector<ListEntry> legacyDevices(bool input) {
    std::vector<ListEntry> entries;
    const int count = static_cast<int>(input ? waveInGetNumDevs() : waveOutGetNumDevs());
    for (int position = 0; count > 0 && position <= count; ++position) {
        UINT_PTR id = position == 0 ? static_cast<UINT_PTR>(WAVE_MAPPER) : position - 1;
        WAVEINCAPSA inCaps = {};
        WAVEOUTCAPSA outCaps = {};
        if (input)
            waveInGetDevCapsA(id, &inCaps, sizeof inCaps);
        else
            waveOutGetDevCapsA(id, &outCaps, sizeof outCaps);
        entries.push_back({input ? inCaps.szPname : outCaps.szPname, position});
    }
    return entries;
}

BOOL CALLBACK collectDevice(LPGUID, LPCSTR description, LPCSTR, LPVOID context) {
    auto* entries = static_cast<std::vector<ListEntry>*>(context);
    entries->push_back({description, static_cast<LONG_PTR>(entries->size())});
    return TRUE;
}

TEST_F(SoundcardDialogTest, DeviceListsComeFromTheSoundcardAndRestoreTheStoredSelection) {
    std::vector<ListEntry> waveIn = legacyDevices(true), waveOut = legacyDevices(false), dsOut, dsIn;
    DirectSoundEnumerateA(collectDevice, &dsOut);
    DirectSoundCaptureEnumerateA(collectDevice, &dsIn);
    for (const auto* list : {&waveIn, &waveOut, &dsOut, &dsIn})
        ASSERT_GE(list->size(), 2u) << "the virtual soundcard should offer the mapper or primary and a device";
    writeSettingText("WAVE_IN_DEVICE", "99");  // beyond the list: nothing selected, stays stored
    writeSettingText("DX_IN_DEVICE", "1");
    writeSettingText("WAVE_OUT_DEVICE", "1");
    withSoundcardDialog([&](HWND dialog) {
        const struct {
            int id;
            const std::vector<ListEntry>& entries;
            int selected;  // the mapper or primary when nothing is stored
        } lists[] = {{IDC_SCARD_LEGACY_IN, waveIn, -1},
                     {IDC_SCARD_LEGACY_OUT, waveOut, 1},
                     {IDC_SCARD_DX_OUT, dsOut, 0},
                     {IDC_SCARD_DX_IN, dsIn, 1}};
        for (const auto& l : lists) {
            EXPECT_EQ(l.entries, listEntries(dialog, l.id)) << l.id;
            EXPECT_EQ(l.selected, listSelection(dialog, l.id)) << l.id;
        }
        selectEntry(dialog, IDC_SCARD_LEGACY_OUT, 0);  // the mapper
        pressButton(dialog, IDOK);
    });
    EXPECT_EQ("0", readSettingText("WAVE_OUT_DEVICE"));
    EXPECT_EQ("99", readSettingText("WAVE_IN_DEVICE")) << "a list without selection writes nothing";
}

TEST_F(SoundcardDialogTest, TickingASaveBoxWithoutDirectoryOpensTheFolderBrowser) {
    FolderBrowserFake browser;
    writeSettingText("DISK_OUTPUT_DIRECTORY", (tempDir() + "\\gone").c_str());  // no longer exists
    HWND seen = nullptr;
    withSoundcardDialog([&](HWND dialog) {
        seen = dialog;
        struct Step {
            int box;
            const char* answer;
            int callsAfter;
            bool tickedAfter;
        } steps[] = {{IDC_SCARD_SAVE_INPUT, "", 1, true},         // cancelled: stays ticked, directory unset
                     {IDC_SCARD_SAVE_INPUT, "", 1, false},        // unticking asks nothing
                     {IDC_SCARD_SAVE_OUTPUT, "folder", 2, true},  // chosen
                     {IDC_SCARD_SAVE_INPUT, "", 2, true}};        // a usable directory now: no browser
        for (const Step& s : steps) {
            browser.folder = *s.answer ? tempDir() : "";
            pressButton(dialog, s.box);
            drain(dialog);
            EXPECT_EQ(s.callsAfter, browser.calls);
            EXPECT_EQ(s.tickedAfter, isTicked(dialog, s.box));
        }
        pressButton(dialog, IDOK);
    });
    EXPECT_EQ(seen, browser.owner);
    EXPECT_EQ(tempDir(), readSettingText("DISK_OUTPUT_DIRECTORY"));
    EXPECT_EQ("TRUE", readSettingText("SAVE_INPUT"));
    EXPECT_EQ("TRUE", readSettingText("SAVE_OUTPUT"));
}

}  // namespace
