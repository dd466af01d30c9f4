// Looks at each dialog as it is drawn on the screen (uitest.h), reached the
// way the user reaches them from the soundcard dialog, and checks that the
// wizard picture shows at its own size. Each dialog is also saved as a BMP
// picture in "screenshots\" of the working folder, for people to look at
// (scripts/screenshots.sh).
#include "settings/settings.h"
#include "support/testenv.h"
#include "ui/dialogs.h"
#include "ui/resource.h"
#include "uitest.h"

namespace {

class DialogLookTest : public HarnwickTest {};

// The picture control shows bitmap 112 at its own size, pixel for pixel.
void expectWizardPicture(HWND page) {
    HWND picture = FindWindowExA(page, nullptr, "Static", nullptr);
    while (picture && (GetWindowLongA(picture, GWL_STYLE) & SS_TYPEMASK) != SS_BITMAP)
        picture = FindWindowExA(page, picture, "Static", nullptr);
    ASSERT_TRUE(picture) << "no picture control";
    RECT onScreen;
    GetWindowRect(picture, &onScreen);
    EXPECT_EQ(154, onScreen.right - onScreen.left);
    EXPECT_EQ(400, onScreen.bottom - onScreen.top);
    HBITMAP bitmap = static_cast<HBITMAP>(
        LoadImageA(moduleInstance(), MAKEINTRESOURCEA(IDB_WIZARD), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
    ASSERT_TRUE(bitmap);
    HDC memory = CreateCompatibleDC(nullptr);
    HGDIOBJ old = SelectObject(memory, bitmap);
    Picture shown = capture(onScreen);
    int same = 0, total = 0;
    for (int y = 0; y < 400; y += 7)
        for (int x = 0; x < 154; x += 5, ++total)
            if (shown.at(x, y) == GetPixel(memory, x, y)) ++same;
    EXPECT_EQ(total, same) << "the screen does not show the wizard picture";
    SelectObject(memory, old);
    DeleteDC(memory);
    DeleteObject(bitmap);
}

// Presses the button in `below` and looks at the dialog it opens over `owner`.
HWND openOver(HWND owner, HWND below, int button, const char* caption, const char* picture) {
    pressButton(below, button);
    HWND over = waitForDialog(caption, {below});
    if (!over) return over;
    EXPECT_EQ(owner, GetWindow(over, GW_OWNER));
    EXPECT_TRUE(isCentred(over));
    lookAt(over, picture);
    return over;
}

// Options and quick help open their dialogs over the soundcard dialog; the
// wizard's "Next..." leads to the disclaimer.
TEST_F(DialogLookTest, TheSoundcardDialogInBothModesAndTheDialogsItOpens) {
    writeSettingText("DISK_OUTPUT_DIRECTORY", tempDir().c_str());  // a real path in the directory field
    const auto walk = [](HWND dialog) {
        const char* const kWizard = "Harnwick Live configuration wizard";
        lookAt(dialog, "soundcard-legacy");
        pressButton(dialog, IDC_SCARD_DX_MODE);
        drain(dialog);
        lookAt(dialog, "soundcard-directsound");
        HWND disk = openOver(dialog, dialog, IDC_SCARD_DISK_OPTIONS, "Save to disk", "disk-options");
        ASSERT_TRUE(disk);
        pressButton(disk, IDOK);  // Done
        waitForWindowGone(disk, 5000);
        HWND first = openOver(dialog, dialog, IDC_SCARD_QUICK_HELP, kWizard, "wizard-first-startup");
        ASSERT_TRUE(first);
        expectWizardPicture(first);
        HWND second = openOver(dialog, first, IDOK, kWizard, "wizard-disclaimer");  // Next...
        ASSERT_TRUE(second);
        expectWizardPicture(second);
        pressButton(second, IDOK);  // Finish
        waitForWindowGone(second, 5000);
        pressButton(dialog, IDCANCEL);
    };
    EXPECT_EQ(0, withDialog([] { return showSoundcardDialog(nullptr); }, "Soundcard properties", walk));
    EXPECT_EQ("Harnwick Input Signal.wav", readSettingText("SAVE_INPUT_FILENAME")) << "Done stored the names";
}

}  // namespace
