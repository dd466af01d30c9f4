// Looks at each dialog as it is drawn on the screen (uitest.h), and
// checks that the wizard picture shows at its own size. Each dialog is also
// saved as a BMP picture in "screenshots\" of the working folder, for people
// to look at (scripts/screenshots.sh).
#include "settings/settings.h"
#include "support/testenv.h"
#include "ui/dialogs.h"
#include "ui/resource.h"
#include "uitest.h"

namespace {

class DialogLookTest : public HarnwickTest {};

// The picture control shows bitmap 112 at its own size, pixel for pixel.
void expectWizardPicture(HWND page) {
    const Control* picture = nullptr;
    std::vector<Control> controls = controlsOf(page);
    for (const Control& c : controls)
        if (isStatic(c) && staticKind(c) == SS_BITMAP) picture = &c;
    ASSERT_TRUE(picture) << "no picture control";
    EXPECT_EQ(154, picture->rect.right - picture->rect.left);
    EXPECT_EQ(400, picture->rect.bottom - picture->rect.top);

    HBITMAP bitmap = static_cast<HBITMAP>(
        LoadImageA(moduleInstance(), MAKEINTRESOURCEA(IDB_WIZARD), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
    ASSERT_TRUE(bitmap);
    BITMAP info;
    GetObject(bitmap, sizeof info, &info);
    EXPECT_EQ(154, info.bmWidth);
    EXPECT_EQ(400, info.bmHeight);
    EXPECT_EQ(24, info.bmBitsPixel);
    HDC memory = CreateCompatibleDC(nullptr);
    HGDIOBJ old = SelectObject(memory, bitmap);

    RECT onScreen = picture->rect;
    MapWindowPoints(page, nullptr, reinterpret_cast<POINT*>(&onScreen), 2);
    drive::Picture shown = drive::capture(onScreen);
    int same = 0, total = 0;
    for (int y = 0; y < 400; y += 7)
        for (int x = 0; x < 154; x += 5, ++total)
            if (shown.at(x, y) == GetPixel(memory, x, y)) ++same;
    EXPECT_EQ(total, same) << "the screen does not show the wizard picture";
    SelectObject(memory, old);
    DeleteDC(memory);
    DeleteObject(bitmap);
}

TEST_F(DialogLookTest, SoundcardDialogInBothModesAndDiskOptions) {
    writeSettingText("DISK_OUTPUT_DIRECTORY", tempDir().c_str());  // a real path in the directory field
    driveDialog([] { return showSoundcardDialog(nullptr); },
                [&] {
                    HWND dialog = waitForDialog("Soundcard properties");
                    ASSERT_TRUE(dialog);
                    lookAt(dialog, "soundcard-legacy");
                    pressButton(dialog, IDC_SCARD_DX_MODE);
                    drain(dialog);
                    lookAt(dialog, "soundcard-directsound");
                    pressButton(dialog, IDC_SCARD_DISK_OPTIONS);
                    HWND disk = waitForDialog("Save to disk");
                    ASSERT_TRUE(disk);
                    lookAt(disk, "disk-options");
                    pressButton(disk, IDOK);
                    drive::waitForWindowGone(disk, 5000);
                    pressButton(dialog, IDCANCEL);
                });
}

TEST_F(DialogLookTest, WizardPagesShowThePicture) {
    driveDialog(
        [] {
            runWizard(nullptr);
            return INT_PTR(1);
        },
        [&] {
            HWND first = waitForDialog("Harnwick Live configuration wizard");
            ASSERT_TRUE(first);
            lookAt(first, "wizard-first-startup");
            expectWizardPicture(first);
            pressButton(first, IDOK);
            HWND second = waitForDialog("Harnwick Live configuration wizard", {first});
            ASSERT_TRUE(second);
            lookAt(second, "wizard-disclaimer");
            expectWizardPicture(second);
            pressButton(second, IDOK);
        });
}

}  // namespace
