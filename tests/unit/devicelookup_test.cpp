// Device lookup against replaced DirectSound enumerations (the soundcard
// dialog's test fills its lists from the virtual soundcard's real ones).
#include "settings/settings.h"
#include "support/testenv.h"

namespace {

class DeviceLookupTest : public HarnwickTest {};

// Three devices as DirectSound reports them: the primary driver without a GUID first.
const GUID kCardA = {0x12345678, 0x9abc, 0xdef0, {1, 2, 3, 4, 5, 6, 7, 8}};
const GUID kCardB = {0xffffffff, 0, 0, {0}};
HRESULT WINAPI enumerateThree(LPDSENUMCALLBACKA callback, LPVOID context) {
    if (callback(nullptr, "Primary Sound Driver", "", context) &&
        callback(const_cast<GUID*>(&kCardA), "Card A", "a.drv", context))
        callback(const_cast<GUID*>(&kCardB), "Card B", "b.drv", context);
    return DS_OK;
}
HRESULT WINAPI enumerateNothing(LPDSENUMCALLBACKA, LPVOID) { return DS_OK; }

TEST_F(DeviceLookupTest, StoredPositionsGiveTheirDevice) {
    const GUID none = {};
    struct Case {
        int position;  // -1: nothing stored
        bool found;
        const GUID* guid;
    } cases[] = {{-1, true, &none},  {0, true, &none},  {1, true, &kCardA},
                 {2, true, &kCardB}, {3, false, &none}, {-100, false, &none}};  // -100: the dialog's placeholder
    PlatformOverride seam;
    seam.api().directSoundEnumerateA = enumerateThree;
    seam.api().directSoundCaptureEnumerateA = enumerateThree;
    struct Direction {
        const char* setting;
        const DeviceLookup& (*lookup)();
    } directions[] = {{"DX_OUT_DEVICE", lookupPlaybackDevice}, {"DX_IN_DEVICE", lookupCaptureDevice}};
    for (const Direction& d : directions)
        for (const Case& c : cases) {
            SCOPED_TRACE(testing::Message() << d.setting << " " << c.position);
            if (c.position != -1) writeSettingInt(d.setting, c.position);
            const DeviceLookup& result = d.lookup();
            EXPECT_EQ(c.found, result.found);
            EXPECT_TRUE(IsEqualGUID(*c.guid, result.deviceGuid));
        }
    seam.api().directSoundEnumerateA = enumerateNothing;
    seam.api().directSoundCaptureEnumerateA = enumerateNothing;
    writeSettingInt("DX_OUT_DEVICE", 0);
    writeSettingInt("DX_IN_DEVICE", 0);
    EXPECT_FALSE(lookupPlaybackDevice().found);
    EXPECT_FALSE(lookupCaptureDevice().found);
}

}  // namespace
