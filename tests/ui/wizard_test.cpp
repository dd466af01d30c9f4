// The configuration wizard pages and the first-start check, opened for real.
#include <atomic>
#include <thread>
#include <string>

#include "settings/settings.h"
#include "support/testenv.h"
#include "ui/dialogdriver.h"
#include "ui/dialogs.h"

namespace {

const char* const kWizardCaption = "Harnwick Live configuration wizard";

class WizardTest : public HarnwickTest {};

std::string setting(const char* name) { return readSettingText(name); }

INT_PTR wizard() {
    runWizard(nullptr);
    return 1;
}

// The page on screen: the first has "Next..." as its default button, the
// disclaimer "Finish".
std::string defaultButtonText(HWND page) { return textOf(page, IDOK); }

TEST_F(WizardTest, NextLeadsToTheDisclaimerAndFinishEnds) {
    driveDialog(wizard, [&] {
        HWND first = waitForDialog(kWizardCaption);
        ASSERT_TRUE(first);
        EXPECT_EQ("Next...", defaultButtonText(first));
        EXPECT_EQ("Cancel", textOf(first, IDCANCEL));
        EXPECT_TRUE(isCentred(first));
        press(first, IDOK);
        HWND second = waitForDialog(kWizardCaption, {first});
        ASSERT_TRUE(second);
        EXPECT_EQ("Finish", defaultButtonText(second));
        EXPECT_EQ(nullptr, GetDlgItem(second, IDCANCEL));
        EXPECT_TRUE(isCentred(second));
        press(second, IDOK);
    });
}

// Each way out of the first page except "Next..." skips the disclaimer.
TEST_F(WizardTest, CancelEscapeAndCloseBoxSkipTheDisclaimer) {
    void (*leave[])(HWND) = {
        [](HWND page) { press(page, IDCANCEL); },
        pressEscape,
        pressCloseBox,
    };
    for (auto way : leave) {
        std::atomic<bool> returned{false};
        driveDialog(
            [&] {
                runWizard(nullptr);
                returned = true;
                return INT_PTR(1);
            },
            [&] {
                HWND first = waitForDialog(kWizardCaption);
                ASSERT_TRUE(first);
                way(first);
                // Either the wizard returns, or a second page shows up (and is failed and ended).
                for (int i = 0; i < 300 && !returned; ++i) Sleep(10);
                EXPECT_TRUE(returned) << "a second page was shown";
            });
    }
}

// The host dialog runs the check once per opening; here the test calls it
// as the host dialog would, with a wizard driven or expected absent.
void checkWithWizard(bool expectWizard, std::map<std::string, std::string>* seenWhileShown = nullptr) {
    std::atomic<bool> returned{false};
    driveDialog(
        [&] {
            firstStartCheck(nullptr);
            returned = true;
            return INT_PTR(1);
        },
        [&] {
            if (expectWizard) {
                HWND first = waitForDialog(kWizardCaption);
                ASSERT_TRUE(first);
                if (seenWhileShown) *seenWhileShown = settingsSnapshot();
                press(first, IDCANCEL);
            } else {
                for (int i = 0; i < 300 && !returned; ++i) Sleep(10);
                EXPECT_TRUE(returned) << "the wizard was shown";
            }
        });
}

TEST_F(WizardTest, FirstStartStoresStartingValuesShowsTheWizardOnceAndCounts) {
    std::map<std::string, std::string> whileShown;
    checkWithWizard(true, &whileShown);
    std::map<std::string, std::string> starting = {{"out lat ms", "20"}, {"chunks", "128"}, {"PRIMARY", "TRUE"}};
    EXPECT_EQ(starting, whileShown) << "starting values are stored before the wizard; times after it";
    EXPECT_EQ("1", setting("times"));

    writeSettingText("chunks", "256");  // the user's choice after the first start
    checkWithWizard(false);
    EXPECT_EQ("2", setting("times"));
    EXPECT_EQ("256", setting("chunks"));
}

TEST_F(WizardTest, MinusOneCountsUpToZeroAndTheNextOpeningIsAFirstStart) {
    writeSettingText("times", "-1");
    checkWithWizard(false);
    EXPECT_EQ("0", setting("times"));
    EXPECT_EQ("", setting("chunks"));
    checkWithWizard(true);
    EXPECT_EQ("1", setting("times"));
    EXPECT_EQ("128", setting("chunks"));

    writeSettingText("times", "many");  // not a number: a first start again
    checkWithWizard(true);
    EXPECT_EQ("1", setting("times"));
}

}  // namespace
