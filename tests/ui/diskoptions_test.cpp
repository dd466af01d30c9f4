// The disk options dialog and the folder browser, opened for real.
#include <string>

#include "settings/settings.h"
#include "support/testenv.h"
#include "ui/dialogdriver.h"
#include "ui/dialogs.h"
#include "ui/resource.h"

namespace {

const char* const kCaption = "Save to disk";

class DiskOptionsTest : public HarnwickTest {};

std::string setting(const char* name) { return readSettingText(name); }

INT_PTR showDiskOptions() {
    showDiskOptionsDialog(nullptr);
    return 1;
}

TEST_F(DiskOptionsTest, DefaultsShownAndOnlyDoneCloses) {
    driveDialog(showDiskOptions, [&] {
        HWND dialog = waitForDialog(kCaption);
        ASSERT_TRUE(dialog);
        EXPECT_TRUE(isCentred(dialog));
        EXPECT_EQ("Please choose output directory", textOf(dialog, IDC_DISK_DIRECTORY));
        EXPECT_EQ("Harnwick Input Signal.wav", textOf(dialog, IDC_DISK_INPUT_NAME));
        EXPECT_EQ("Harnwick Output Signal.wav", textOf(dialog, IDC_DISK_OUTPUT_NAME));
        EXPECT_FALSE(isTicked(dialog, IDC_DISK_APPEND_TAKE));
        pressEscape(dialog);
        drain(dialog);
        EXPECT_TRUE(IsWindowVisible(dialog)) << "Escape must not close the dialog";
        pressCloseBox(dialog);
        drain(dialog);
        EXPECT_TRUE(IsWindowVisible(dialog)) << "the close box must not close the dialog";
        EXPECT_TRUE(settingsSnapshot().empty()) << "nothing is stored before Done";
        press(dialog, IDC_DISK_APPEND_TAKE);
        press(dialog, IDOK);
    });
    EXPECT_EQ("Harnwick Input Signal.wav", setting("SAVE_INPUT_FILENAME"));
    EXPECT_EQ("Harnwick Output Signal.wav", setting("SAVE_OUTPUT_FILENAME"));
    EXPECT_EQ("TRUE", setting("APPEND_TAKE_NUMBER"));
}

TEST_F(DiskOptionsTest, StoredValuesShownWithTheDirectoryEndingInABackslash) {
    writeSettingText("DISK_OUTPUT_DIRECTORY", tempDir().c_str());
    writeSettingText("SAVE_INPUT_FILENAME", "dry.wav");
    writeSettingText("SAVE_OUTPUT_FILENAME", "wet");
    writeSettingText("APPEND_TAKE_NUMBER", "TRUE");
    driveDialog(showDiskOptions, [&] {
        HWND dialog = waitForDialog(kCaption);
        ASSERT_TRUE(dialog);
        EXPECT_EQ(tempDir() + "\\", textOf(dialog, IDC_DISK_DIRECTORY));
        EXPECT_EQ("dry.wav", textOf(dialog, IDC_DISK_INPUT_NAME));
        EXPECT_EQ("wet", textOf(dialog, IDC_DISK_OUTPUT_NAME));
        EXPECT_TRUE(isTicked(dialog, IDC_DISK_APPEND_TAKE));
        setText(dialog, IDC_DISK_OUTPUT_NAME, "");  // empty and slash are stored as typed
        setText(dialog, IDC_DISK_INPUT_NAME, "a/b:c.wav");
        press(dialog, IDC_DISK_APPEND_TAKE);
        press(dialog, IDOK);
    });
    EXPECT_EQ(tempDir(), setting("DISK_OUTPUT_DIRECTORY")) << "the stored text keeps its form";
    EXPECT_EQ("a/b:c.wav", setting("SAVE_INPUT_FILENAME"));
    EXPECT_EQ("", setting("SAVE_OUTPUT_FILENAME"));
    EXPECT_EQ("FALSE", setting("APPEND_TAKE_NUMBER"));
}

TEST_F(DiskOptionsTest, AFullPathIsRefusedAndTheDialogStaysOpen) {
    MessageBoxRecorder boxes;
    HWND seen = nullptr;
    driveDialog(showDiskOptions, [&] {
        HWND dialog = waitForDialog(kCaption);
        ASSERT_TRUE(dialog);
        seen = dialog;
        setText(dialog, IDC_DISK_INPUT_NAME, "take.wav");
        setText(dialog, IDC_DISK_OUTPUT_NAME, "C:\\takes\\out.wav");
        press(dialog, IDOK);
        drain(dialog);
        EXPECT_TRUE(IsWindowVisible(dialog));
        EXPECT_EQ("", textOf(dialog, IDC_DISK_OUTPUT_NAME)) << "the offending field is emptied";
        EXPECT_EQ("take.wav", textOf(dialog, IDC_DISK_INPUT_NAME));
        EXPECT_EQ("take.wav", setting("SAVE_INPUT_FILENAME")) << "the input name was already stored";
        EXPECT_EQ("", setting("SAVE_OUTPUT_FILENAME"));
        EXPECT_EQ("", setting("APPEND_TAKE_NUMBER"));

        setText(dialog, IDC_DISK_INPUT_NAME, "\\in.wav");  // a refused input name stores nothing at all
        setText(dialog, IDC_DISK_OUTPUT_NAME, "out2.wav");
        press(dialog, IDOK);
        drain(dialog);
        EXPECT_TRUE(IsWindowVisible(dialog));
        EXPECT_EQ("", textOf(dialog, IDC_DISK_INPUT_NAME));
        EXPECT_EQ("", setting("SAVE_OUTPUT_FILENAME"));

        setText(dialog, IDC_DISK_INPUT_NAME, "in.wav");
        press(dialog, IDOK);
    });
    ASSERT_EQ(2u, boxes.calls().size());
    for (const auto& call : boxes.calls()) {
        EXPECT_EQ("The filenames must not contain a full path.", call.text);
        EXPECT_EQ("Harnwick Live", call.caption);
        EXPECT_EQ(static_cast<UINT>(MB_OK | MB_ICONINFORMATION), call.flags);
        EXPECT_EQ(seen, call.owner);
    }
    EXPECT_EQ("in.wav", setting("SAVE_INPUT_FILENAME"));
    EXPECT_EQ("out2.wav", setting("SAVE_OUTPUT_FILENAME"));
    EXPECT_EQ("FALSE", setting("APPEND_TAKE_NUMBER"));
}

// The user's answer in the shell's folder dialog.
enum class Answer { Cancel, Folder, Fault };
Answer g_answer;
std::string g_folder;
int g_browseCalls;

PIDLIST_ABSOLUTE WINAPI fakeBrowse(LPBROWSEINFOA) {
    ++g_browseCalls;
    if (g_answer == Answer::Fault) {
        volatile int* volatile nowhere = nullptr;
        *nowhere = 1;  // a real access violation, as a faulty shell extension makes
    }
    return g_answer == Answer::Folder ? ILCreateFromPathA(g_folder.c_str()) : nullptr;
}

// The shell hands over a path of up to MAX_PATH characters.
BOOL WINAPI longPathFromItems(PCIDLIST_ABSOLUTE, LPSTR path) {
    memset(path, 'p', MAX_PATH - 1);
    path[0] = 'C';
    path[1] = ':';
    path[2] = '\\';
    path[MAX_PATH - 1] = '\0';
    return TRUE;
}

BOOL WINAPI failingPathFromItems(PCIDLIST_ABSOLUTE, LPSTR) { return FALSE; }

class FolderBrowserTest : public HarnwickTest {
protected:
    void SetUp() override {
        HarnwickTest::SetUp();
        fake_.api().shBrowseForFolderA = fakeBrowse;
        g_browseCalls = 0;
    }
    PlatformOverride fake_;
};

TEST_F(FolderBrowserTest, BrowseButtonStoresTheChosenFolderAndShowsIt) {
    std::string before = tempDir() + "\\old";
    CreateDirectoryA(before.c_str(), nullptr);
    writeSettingText("DISK_OUTPUT_DIRECTORY", before.c_str());
    driveDialog(showDiskOptions, [&] {
        HWND dialog = waitForDialog(kCaption);
        ASSERT_TRUE(dialog);
        EXPECT_EQ(before + "\\", textOf(dialog, IDC_DISK_DIRECTORY));
        g_answer = Answer::Cancel;
        press(dialog, IDC_DISK_BROWSE);
        drain(dialog);
        EXPECT_EQ(before, setting("DISK_OUTPUT_DIRECTORY")) << "cancelling keeps the stored directory";
        g_answer = Answer::Folder;
        g_folder = tempDir();
        press(dialog, IDC_DISK_BROWSE);
        drain(dialog);
        EXPECT_EQ(tempDir(), setting("DISK_OUTPUT_DIRECTORY")) << "stored at once, as the shell gives it";
        EXPECT_EQ(tempDir() + "\\", textOf(dialog, IDC_DISK_DIRECTORY));
        press(dialog, IDOK);
    });
    EXPECT_EQ(2, g_browseCalls);
}

TEST_F(FolderBrowserTest, ShellFailuresAreReportedAndStoreNothing) {
    writeSettingText("DISK_OUTPUT_DIRECTORY", "kept");
    MessageBoxRecorder boxes;
    HWND owner = GetDesktopWindow();

    g_answer = Answer::Folder;
    g_folder = tempDir();
    boxes.answer(IDOK);
    {
        PlatformOverride unresolvable;
        unresolvable.api().shGetPathFromIDListA = failingPathFromItems;
        browseForOutputDirectory(owner);
    }
    g_answer = Answer::Fault;
    browseForOutputDirectory(owner);
    browseForOutputDirectory(owner);  // and again: the guard is set up afresh
    {
        // A folder of 259 characters does not fit the directory setting: refused.
        PlatformOverride longPath;
        longPath.api().shGetPathFromIDListA = longPathFromItems;
        g_answer = Answer::Folder;
        browseForOutputDirectory(owner);
    }

    EXPECT_EQ("kept", setting("DISK_OUTPUT_DIRECTORY"));
    ASSERT_EQ(4u, boxes.calls().size());
    EXPECT_EQ(boxes.calls()[1].text, boxes.calls()[2].text);
    EXPECT_EQ("The chosen folder's path is too long.\nPlease choose a folder with a shorter path.",
              boxes.calls()[3].text);
    EXPECT_EQ("Could not resolve output directory.\nPlease contact the vendor!", boxes.calls()[0].text);
    EXPECT_EQ("An exception has occured while browsing for a folder.\nPlease contact the vendor!",
              boxes.calls()[1].text);
    for (const auto& call : boxes.calls()) {
        EXPECT_EQ("Harnwick Live", call.caption);
        EXPECT_EQ(static_cast<UINT>(MB_OK), call.flags & MB_TYPEMASK);
        EXPECT_EQ(owner, call.owner);
    }
}

}  // namespace
