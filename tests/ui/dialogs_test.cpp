// The host's dialogs opened for real under Xvfb and worked through window
// messages: soundcard properties (against the virtual soundcard), disk options
// with the folder browser, the configuration wizard and the help opener.
#include <atomic>
#include <cstring>

#include "settings/settings.h"
#include "support/testenv.h"  // windows.h before the shell's header
#include <shellapi.h>

#include "ui/dialogs.h"
#include "ui/resource.h"
#include "uitest.h"

namespace {

using Settings = std::map<std::string, std::string>;

class DialogTest : public HarnwickTest {};

// Every value under the settings key, by name.
std::map<std::string, std::string> settingsSnapshot() {
    std::map<std::string, std::string> values;
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSettingsKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return values;
    for (DWORD i = 0;; ++i) {
        char name[256];
        BYTE data[512];
        DWORD nameLength = sizeof name, dataLength = sizeof data - 1, type = 0;
        if (RegEnumValueA(key, i, name, &nameLength, nullptr, &type, data, &dataLength) != ERROR_SUCCESS) break;
        data[dataLength] = 0;
        values[name] = reinterpret_cast<char*>(data);
    }
    RegCloseKey(key);
    return values;
}

// Replaces the shell's folder dialog while alive, answered as the user would:
// `folder` chosen, Cancel when it is empty, or "fault": a real access violation,
// as a faulty shell extension makes. Counts the calls.
class FolderBrowserFake {
public:
    FolderBrowserFake() {
        current_ = this;
        override_.api().shBrowseForFolderA = browse;
    }
    std::string folder;
    int calls = 0;

private:
    static PIDLIST_ABSOLUTE WINAPI browse(LPBROWSEINFOA) {
        ++current_->calls;
        volatile int* volatile nowhere = nullptr;
        if (current_->folder == "fault") *nowhere = 1;
        return current_->folder.empty() ? nullptr : ILCreateFromPathA(current_->folder.c_str());
    }
    static inline FolderBrowserFake* current_ = nullptr;
    PlatformOverride override_;
};

const int kDirectSoundIds[] = {1038, 1039, 1040, 1041, 1024, 1030, 1028, 1033, 1042, 1043, 1050, 1053, 1054, 1055};
const int kLegacyIds[] = {1044, 1026, 1045, 1048, 1049, 1051, 1052};

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
}

TEST_F(DialogTest, SoundcardOpeningShowsTheStoredValuesAndRepairsOnlyThoseOutOfRange) {
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

TEST_F(DialogTest, SoundcardOkStoresEveryValueInOrderWhateverTheMode) {
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

// The wave devices as Wine reports them, the mapper first, gathered without the dialog.
std::vector<ListEntry> legacyDevices(bool input) {
    std::vector<ListEntry> entries;
    const int count = static_cast<int>(input ? waveInGetNumDevs() : waveOutGetNumDevs());
    for (int position = 0; count > 0 && position <= count; ++position) {
        UINT_PTR id = position == 0 ? static_cast<UINT_PTR>(WAVE_MAPPER) : position - 1;
        WAVEINCAPSA inCaps = {};
        WAVEOUTCAPSA outCaps = {};
        input ? waveInGetDevCapsA(id, &inCaps, sizeof inCaps) : waveOutGetDevCapsA(id, &outCaps, sizeof outCaps);
        entries.push_back({input ? inCaps.szPname : outCaps.szPname, position});
    }
    return entries;
}

BOOL CALLBACK collectDevice(LPGUID, LPCSTR description, LPCSTR, LPVOID context) {
    auto* entries = static_cast<std::vector<ListEntry>*>(context);
    entries->push_back({description, static_cast<LONG_PTR>(entries->size())});
    return TRUE;
}

TEST_F(DialogTest, SoundcardDeviceListsComeFromTheSoundcardAndRestoreTheStoredSelection) {
    std::vector<ListEntry> waveIn = legacyDevices(true), waveOut = legacyDevices(false), dsOut, dsIn;
    DirectSoundEnumerateA(collectDevice, &dsOut);
    DirectSoundCaptureEnumerateA(collectDevice, &dsIn);
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

TEST_F(DialogTest, SoundcardTickingASaveBoxWithoutDirectoryOpensTheFolderBrowser) {
    FolderBrowserFake browser;
    writeSettingText("DISK_OUTPUT_DIRECTORY", (tempDir() + "\\gone").c_str());  // no longer exists
    withSoundcardDialog([&](HWND dialog) {
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
    EXPECT_EQ(tempDir(), readSettingText("DISK_OUTPUT_DIRECTORY"));
    EXPECT_EQ("TRUE", readSettingText("SAVE_INPUT"));
    EXPECT_EQ("TRUE", readSettingText("SAVE_OUTPUT"));
}

void withDiskOptions(const std::function<void(HWND)>& user) {
    withDialog(
        [] {
            showDiskOptionsDialog(nullptr);
            return INT_PTR(1);
        },
        "Save to disk", user);
}

TEST_F(DialogTest, DiskOptionsShowTheStoredValuesAndOnlyDoneClosesAndStores) {
    const std::string folder = tempDir();
    struct Case {
        Settings stored;
        std::string directory;
        const char *input, *output;  // as shown
        bool appendTicked;
        const char *typedInput, *typedOutput;  // null: left as shown
        Settings after;
    } cases[] = {
        {{}, "Please choose output directory", "Harnwick Input Signal.wav", "Harnwick Output Signal.wav", false,
         nullptr, nullptr,
         {{"SAVE_INPUT_FILENAME", "Harnwick Input Signal.wav"}, {"SAVE_OUTPUT_FILENAME", "Harnwick Output Signal.wav"},
          {"APPEND_TAKE_NUMBER", "TRUE"}}},
        // The directory is shown with a backslash and stored as it was; empty and odd names are stored as typed.
        {{{"DISK_OUTPUT_DIRECTORY", folder}, {"SAVE_INPUT_FILENAME", "dry.wav"}, {"SAVE_OUTPUT_FILENAME", "wet"},
          {"APPEND_TAKE_NUMBER", "TRUE"}},
         folder + "\\", "dry.wav", "wet", true, "a/b:c.wav", "",
         {{"DISK_OUTPUT_DIRECTORY", folder}, {"SAVE_INPUT_FILENAME", "a/b:c.wav"}, {"SAVE_OUTPUT_FILENAME", ""},
          {"APPEND_TAKE_NUMBER", "FALSE"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.input);
        RegDeleteKeyA(HKEY_LOCAL_MACHINE, kSettingsKey);
        store(c.stored);
        withDiskOptions([&](HWND dialog) {
            EXPECT_EQ(c.directory, buttonText(dialog, IDC_DISK_DIRECTORY));
            EXPECT_EQ(c.input, buttonText(dialog, IDC_DISK_INPUT_NAME));
            EXPECT_EQ(c.output, buttonText(dialog, IDC_DISK_OUTPUT_NAME));
            EXPECT_EQ(c.appendTicked, isTicked(dialog, IDC_DISK_APPEND_TAKE));
            for (auto leave : {pressEscape, pressCloseBox}) {
                leave(dialog);
                drain(dialog);
                EXPECT_TRUE(IsWindowVisible(dialog)) << "only Done closes the dialog";
            }
            EXPECT_EQ(c.stored, settingsSnapshot()) << "nothing is stored before Done";
            if (c.typedInput) setText(dialog, IDC_DISK_INPUT_NAME, c.typedInput);
            if (c.typedOutput) setText(dialog, IDC_DISK_OUTPUT_NAME, c.typedOutput);
            pressButton(dialog, IDC_DISK_APPEND_TAKE);
            pressButton(dialog, IDOK);
        });
        EXPECT_EQ(c.after, settingsSnapshot());
    }
}

TEST_F(DialogTest, DiskOptionsRefuseAFullPathAndStayOpen) {
    MessageBoxRecorder boxes;
    HWND seen = nullptr;
    withDiskOptions([&](HWND dialog) {
        seen = dialog;
        setText(dialog, IDC_DISK_INPUT_NAME, "take.wav");
        setText(dialog, IDC_DISK_OUTPUT_NAME, "C:\\takes\\out.wav");
        pressButton(dialog, IDOK);
        drain(dialog);
        EXPECT_TRUE(IsWindowVisible(dialog));
        EXPECT_EQ("", buttonText(dialog, IDC_DISK_OUTPUT_NAME)) << "the offending field is emptied";
        EXPECT_EQ("take.wav", buttonText(dialog, IDC_DISK_INPUT_NAME));
        // The input name is stored before the output name is looked at; a refused one stores nothing.
        EXPECT_EQ((Settings{{"SAVE_INPUT_FILENAME", "take.wav"}}), settingsSnapshot());
        setText(dialog, IDC_DISK_OUTPUT_NAME, "out2.wav");
        pressButton(dialog, IDOK);
    });
    ASSERT_EQ(1u, boxes.calls().size());
    EXPECT_EQ("The filenames must not contain a full path.", boxes.calls()[0].text);
    EXPECT_EQ(seen, boxes.calls()[0].owner);
    const Settings after = {
        {"SAVE_INPUT_FILENAME", "take.wav"}, {"SAVE_OUTPUT_FILENAME", "out2.wav"}, {"APPEND_TAKE_NUMBER", "FALSE"}};
    EXPECT_EQ(after, settingsSnapshot());
}

// The shell hands over a path of up to MAX_PATH characters.
BOOL WINAPI longPathFromItems(PCIDLIST_ABSOLUTE, LPSTR path) {
    memset(path, 'p', MAX_PATH - 1);
    memcpy(path, "C:\\", 3);
    path[MAX_PATH - 1] = '\0';
    return TRUE;
}

BOOL WINAPI failingPathFromItems(PCIDLIST_ABSOLUTE, LPSTR) { return FALSE; }

TEST_F(DialogTest, DiskOptionsBrowseStoresTheChosenFolderAndReportsShellFailures) {
    FolderBrowserFake browser;
    MessageBoxRecorder boxes;
    const std::string old = tempDir() + "\\old";
    CreateDirectoryA(old.c_str(), nullptr);
    writeSettingText("DISK_OUTPUT_DIRECTORY", old.c_str());
    const std::string fault = "An exception has occured while browsing for a folder.\nPlease contact the vendor!";
    struct Case {
        std::string answer;
        BOOL(WINAPI* pathFromItems)(PCIDLIST_ABSOLUTE, LPSTR);
        std::string message;  // empty: none
    } cases[] = {
        {"", nullptr, ""},  // cancelled
        {tempDir(), failingPathFromItems, "Could not resolve output directory.\nPlease contact the vendor!"},
        {"fault", nullptr, fault},
        // A folder of 259 characters does not fit the directory setting.
        {tempDir(), longPathFromItems,
         "The chosen folder's path is too long.\nPlease choose a folder with a shorter path."},
        {tempDir(), nullptr, ""},  // chosen: stored at once, as the shell gives it, and shown
    };
    HWND seen = nullptr;
    withDiskOptions([&](HWND dialog) {
        seen = dialog;
        for (const Case& c : cases) {
            SCOPED_TRACE(c.message);
            PlatformOverride shell;
            if (c.pathFromItems) shell.api().shGetPathFromIDListA = c.pathFromItems;
            browser.folder = c.answer;
            const size_t told = boxes.calls().size();
            pressButton(dialog, IDC_DISK_BROWSE);
            drain(dialog);
            ASSERT_EQ(told + (c.message.empty() ? 0 : 1), boxes.calls().size());
            EXPECT_EQ(c.message, c.message.empty() ? "" : boxes.calls().back().text);
            const std::string stored = &c == &cases[4] ? tempDir() : old;
            EXPECT_EQ(stored, readSettingText("DISK_OUTPUT_DIRECTORY"));
            EXPECT_EQ(stored + "\\", buttonText(dialog, IDC_DISK_DIRECTORY));
        }
        pressButton(dialog, IDOK);
    });
    for (const auto& call : boxes.calls()) EXPECT_EQ(seen, call.owner);
}

// The host dialog runs the check once per opening. Each way out of the first
// page except "Next..." skips the disclaimer: a second page would be left open
// and fail the test (see driveDialog).
TEST_F(DialogTest, FirstStartStoresStartingValuesShowsTheWizardAndCounts) {
    const Settings starting = {{"out lat ms", "20"}, {"chunks", "128"}, {"PRIMARY", "TRUE"}};
    const auto cancel = [](HWND page) { pressButton(page, IDCANCEL); };
    struct Opening {
        const char *timesBefore, *chunksBefore;  // null: as the previous opening left it
        void (*leave)(HWND);                     // null: no wizard
        const char *timesAfter, *chunksAfter;
    } openings[] = {
        {nullptr, nullptr, cancel, "1", "128"},        // the first start
        {"1", "256", nullptr, "2", "256"},             // the user's choice after it stays
        {"-1", nullptr, nullptr, "0", "256"},          // counts up to zero...
        {nullptr, nullptr, pressEscape, "1", "128"},   // ...and the next opening is a first start
        {"many", nullptr, pressCloseBox, "1", "128"},  // not a number: a first start again
    };
    for (const Opening& o : openings) {
        SCOPED_TRACE(o.timesBefore ? o.timesBefore : "(as left)");
        if (o.timesBefore) writeSettingText("times", o.timesBefore);
        if (o.chunksBefore) writeSettingText("chunks", o.chunksBefore);
        const std::string timesBefore = readSettingText("times");
        Settings whileShown;
        std::atomic<bool> returned{false};
        driveDialog(
            [&] {
                firstStartCheck(nullptr);
                returned = true;
                return INT_PTR(1);
            },
            [&] {  // the first page, or none when the check returned within 3 s
                HWND first = nullptr;
                for (int i = 0; i < 300 && !returned && !first; ++i)
                    first = waitForWindow("Harnwick Live configuration wizard", 10);
                EXPECT_EQ(o.leave != nullptr, first != nullptr);
                if (!first) return;
                drain(first);
                whileShown = settingsSnapshot();
                o.leave(first);
            });
        if (o.leave) {
            // Starting values are stored before the wizard shows; the count after it.
            for (const auto& v : starting) EXPECT_EQ(v.second, whileShown[v.first]) << v.first;
            EXPECT_EQ(timesBefore, whileShown["times"]);
        }
        EXPECT_EQ(o.timesAfter, readSettingText("times"));
        EXPECT_EQ(o.chunksAfter, readSettingText("chunks"));
    }
}

// The files handed to the shell.
std::vector<std::string> g_opened;
INT_PTR g_shellResult;
bool g_altDown;

HINSTANCE WINAPI fakeShellExecute(HWND, LPCSTR, LPCSTR file, LPCSTR, LPCSTR, INT) {
    g_opened.push_back(file);
    return reinterpret_cast<HINSTANCE>(g_shellResult);
}

SHORT WINAPI fakeAsyncKeyState(int key) { return key == VK_MENU && g_altDown ? SHORT(0x8000) : 0; }

std::string programDirectory() {
    char path[MAX_PATH];
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string s = path;
    return s.substr(0, s.rfind('\\'));
}

class HelpTest : public HarnwickTest {
protected:
    void SetUp() override {
        HarnwickTest::SetUp();
        fake_.api().shellExecuteA = fakeShellExecute;
        fake_.api().getAsyncKeyState = fakeAsyncKeyState;
        g_opened.clear();
        g_shellResult = 42;
        g_altDown = false;
    }
    HWND owner() const { return GetDesktopWindow(); }
    PlatformOverride fake_;
    MessageBoxRecorder boxes_;
};

// Asked once, remembered, asked again with Alt held or after a failure, which
// is reported.
TEST_F(HelpTest, AsksOnceRemembersAndReportsFailures) {
    const std::string pdf = programDirectory() + "\\manual_live.pdf", rtf = programDirectory() + "\\manual_live.rtf";
    const auto failed = [&](int code) {
        return "The help-document you requested:\n'" + pdf +
               "'\ncould not be opened! Errorcode: " + std::to_string(code);
    };
    const std::string noViewer =
        "It was not possible to open the help document.\nTo be able to read PDF documents, you need to\ninstall "
        "Adobe Acrobat Reader.\nTo be able to read RTF documents, you need\nMicrosoft Wordpad or Word.";
    struct Step {
        const char* document;
        bool alt;
        int answer;  // 0: no question expected
        INT_PTR shellResult;
        const std::string& opened;  // empty: not handed to the shell
        std::string message;        // empty: none
        const char* format;
    } steps[] = {
        {"manual_live.pdf", false, IDYES, 42, pdf, "", "1"},  // asked: Yes opens the PDF
        {"manual_live.pdf", false, 0, 42, pdf, "", "1"},      // remembered
        {"manual_live.pdf", true, IDNO, 42, rtf, "", "2"},    // Alt held: asked again; No chooses the RTF twin
        {"manual_live.pdf", false, 0, 42, rtf, "", "2"},
        {"no_such_manual.pdf", false, 0, 42, "", "The help document could not be opened", "0"},
        {"manual_live.pdf", false, IDYES, SE_ERR_NOASSOC, pdf, noViewer, "0"},
        {"manual_live.pdf", false, IDYES, SE_ERR_ACCESSDENIED, pdf, failed(5), "0"},
        {"manual_live.pdf", false, IDYES, 33, pdf, "", "1"},  // the first success
    };
    const std::string none;
    size_t boxes = 0;
    for (const Step& s : steps) {
        SCOPED_TRACE(testing::Message() << s.shellResult << " " << s.format);
        g_altDown = s.alt;
        g_shellResult = s.shellResult;
        if (s.answer) boxes_.answer(s.answer);
        g_opened.clear();
        openHelpDocument(owner(), s.document);
        boxes += (s.answer ? 1 : 0) + (s.message.empty() ? 0 : 1);
        ASSERT_EQ(boxes, boxes_.calls().size());
        EXPECT_EQ(s.message, s.message.empty() ? none : boxes_.calls().back().text);
        EXPECT_EQ(s.opened, g_opened.empty() ? none : g_opened[0]);
        EXPECT_EQ(s.format, readSettingText("OPEN_FORMAT"));
    }
    EXPECT_EQ(owner(), boxes_.calls()[0].owner);
}

}  // namespace
