// The configuration wizard pages and the first-start check, opened for real.
#include <atomic>

#include "settings/settings.h"
#include "support/testenv.h"
#include "ui/dialogs.h"
#include "uitest.h"

namespace {

const char* const kWizardCaption = "Harnwick Live configuration wizard";

class WizardTest : public HarnwickTest {};

// Runs `run` as the host dialog would; `first` gets the first page, or null
// when `run` returned within 3 s without showing one.
void withWizard(void (*run)(HWND), const std::function<void(HWND first)>& first) {
    std::atomic<bool> returned{false};
    driveDialog(
        [&] {
            run(nullptr);
            returned = true;
            return INT_PTR(1);
        },
        [&] {
            HWND page = nullptr;
            for (int i = 0; i < 300 && !returned && !page; ++i) page = drive::waitForWindow(kWizardCaption, 10);
            if (page) drain(page);
            first(page);
        });
}

TEST_F(WizardTest, NextLeadsToTheDisclaimerAndFinishEnds) {
    withWizard(runWizard, [](HWND first) {
        ASSERT_TRUE(first);
        EXPECT_EQ("Next...", buttonText(first, IDOK));
        EXPECT_EQ("Cancel", buttonText(first, IDCANCEL));
        EXPECT_TRUE(isCentred(first));
        pressButton(first, IDOK);
        HWND second = waitForDialog(kWizardCaption, {first});
        ASSERT_TRUE(second);
        EXPECT_EQ("Finish", buttonText(second, IDOK));
        EXPECT_EQ(nullptr, GetDlgItem(second, IDCANCEL));
        EXPECT_TRUE(isCentred(second));
        pressButton(second, IDOK);
    });
}

// Each way out of the first page except "Next..." skips the disclaimer: a
// second page would be left open and fail the test (see driveDialog).
TEST_F(WizardTest, CancelEscapeAndCloseBoxSkipTheDisclaimer) {
    for (auto leave : {+[](HWND page) { pressButton(page, IDCANCEL); }, pressEscape, pressCloseBox}) {
        withWizard(runWizard, [&](HWND first) {
            ASSERT_TRUE(first);
            leave(first);
        });
    }
}

// The host dialog runs the check once per opening.
TEST_F(WizardTest, FirstStartStoresStartingValuesShowsTheWizardAndCounts) {
    using Settings = std::map<std::string, std::string>;
    const Settings starting = {{"out lat ms", "20"}, {"chunks", "128"}, {"PRIMARY", "TRUE"}};
    struct Opening {
        const char *timesBefore, *chunksBefore;  // null: as the previous opening left it
        bool wizard;
        const char *timesAfter, *chunksAfter;
    } openings[] = {
        {nullptr, nullptr, true, "1", "128"},  // the first start
        {"1", "256", false, "2", "256"},       // the user's choice after it stays
        {"-1", nullptr, false, "0", "256"},    // counts up to zero...
        {nullptr, nullptr, true, "1", "128"},  // ...and the next opening is a first start
        {"many", nullptr, true, "1", "128"},   // not a number: a first start again
    };
    for (const Opening& o : openings) {
        SCOPED_TRACE(o.timesBefore ? o.timesBefore : "(as left)");
        if (o.timesBefore) writeSettingText("times", o.timesBefore);
        if (o.chunksBefore) writeSettingText("chunks", o.chunksBefore);
        const std::string timesBefore = readSettingText("times");
        Settings whileShown;
        withWizard(firstStartCheck, [&](HWND first) {
            EXPECT_EQ(o.wizard, first != nullptr);
            if (!first) return;
            whileShown = settingsSnapshot();
            pressButton(first, IDCANCEL);
        });
        if (o.wizard) {
            // Starting values are stored before the wizard shows; the count after it.
            for (const auto& v : starting) EXPECT_EQ(v.second, whileShown[v.first]) << v.first;
            EXPECT_EQ(timesBefore, whileShown["times"]);
        }
        EXPECT_EQ(o.timesAfter, readSettingText("times"));
        EXPECT_EQ(o.chunksAfter, readSettingText("chunks"));
    }
}

}  // namespace
