// The disk options dialog and the folder browser, opened for real.
#include <cstring>

#include "settings/settings.h"
#include "support/testenv.h"
#include "ui/dialogs.h"
#include "ui/resource.h"
#include "uitest.h"

namespace {

using Settings = std::map<std::string, std::string>;

void withDiskOptions(const std::function<void(HWND)>& user) {
    withDialog(
        [] {
            showDiskOptionsDialog(nullptr);
            return INT_PTR(1);
        },
        "Save to disk", user);
}

class DiskOptionsTest : public HarnwickTest {};

TEST_F(DiskOptionsTest, ShowsTheStoredValuesAndOnlyDoneClosesAndStores) {
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
        for (const auto& v : c.stored) writeSettingText(v.first.c_str(), v.second.c_str());
        withDiskOptions([&](HWND dialog) {
            EXPECT_TRUE(isCentred(dialog));
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

TEST_F(DiskOptionsTest, AFullPathIsRefusedAndTheDialogStaysOpen) {
    MessageBoxRecorder boxes;
    HWND seen = nullptr;
    withDiskOptions([&](HWND dialog) {
        seen = dialog;
        struct Try {
            const char *input, *output;
            bool inputRefused;
        } tries[] = {{"take.wav", "C:\\takes\\out.wav", false}, {"\\in.wav", "out2.wav", true}};
        for (const Try& t : tries) {
            setText(dialog, IDC_DISK_INPUT_NAME, t.input);
            setText(dialog, IDC_DISK_OUTPUT_NAME, t.output);
            pressButton(dialog, IDOK);
            drain(dialog);
            EXPECT_TRUE(IsWindowVisible(dialog));
            const int refused = t.inputRefused ? IDC_DISK_INPUT_NAME : IDC_DISK_OUTPUT_NAME;
            const int kept = t.inputRefused ? IDC_DISK_OUTPUT_NAME : IDC_DISK_INPUT_NAME;
            EXPECT_EQ("", buttonText(dialog, refused)) << "the offending field is emptied";
            EXPECT_EQ(t.inputRefused ? t.output : t.input, buttonText(dialog, kept));
            // The input name is stored before the output name is looked at; a refused one stores nothing.
            EXPECT_EQ((Settings{{"SAVE_INPUT_FILENAME", "take.wav"}}), settingsSnapshot());
        }
        setText(dialog, IDC_DISK_INPUT_NAME, "in.wav");
        pressButton(dialog, IDOK);
    });
    ASSERT_EQ(2u, boxes.calls().size());
    for (const auto& call : boxes.calls()) {
        EXPECT_EQ("The filenames must not contain a full path.", call.text);
        EXPECT_EQ(seen, call.owner);
    }
    const Settings after = {
        {"SAVE_INPUT_FILENAME", "in.wav"}, {"SAVE_OUTPUT_FILENAME", "out2.wav"}, {"APPEND_TAKE_NUMBER", "FALSE"}};
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

TEST_F(DiskOptionsTest, BrowseStoresTheChosenFolderAndReportsShellFailures) {
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
        {"fault", nullptr, fault},  // and again: the guard is set up afresh
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
            if (!c.message.empty()) {
                EXPECT_EQ(c.message, boxes.calls().back().text);
            }
            const std::string stored = &c == &cases[5] ? tempDir() : old;
            EXPECT_EQ(stored, readSettingText("DISK_OUTPUT_DIRECTORY"));
            EXPECT_EQ(stored + "\\", buttonText(dialog, IDC_DISK_DIRECTORY));
        }
        pressButton(dialog, IDOK);
    });
    for (const auto& call : boxes.calls()) EXPECT_EQ(seen, call.owner);
}

}  // namespace
