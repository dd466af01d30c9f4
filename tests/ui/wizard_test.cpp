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
            for (int i = 0; i < 300 && !returned && !page; ++i) page = waitForWindow(kWizardCaption, 10);
            if (page) drain(page);
            first(page);
        });
}

// The host dialog runs the check once per opening. Each way out of the first
// page except "Next..." skips the disclaimer: a second page would be left open
// and fail the test (see driveDialog).
TEST_F(WizardTest, FirstStartStoresStartingValuesShowsTheWizardAndCounts) {
    using Settings = std::map<std::string, std::string>;
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
        withWizard(firstStartCheck, [&](HWND first) {
            EXPECT_EQ(o.leave != nullptr, first != nullptr);
            if (!first) return;
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

}  // namespace
