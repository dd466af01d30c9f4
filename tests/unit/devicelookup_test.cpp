// Device lookup against Wine's DirectSound on the virtual soundcard, and
// against replaced enumerations.
#include <string>
#include <vector>

#include "settings/settings.h"
#include "support/testenv.h"

namespace {

class DeviceLookupTest : public HarnwickTest {};

bool isZero(const GUID& g) {
    static const GUID zero = {};
    return IsEqualGUID(g, zero);
}

struct Seen {
    std::vector<GUID> guids;  // zero for an entry without a GUID
};

BOOL CALLBACK collect(LPGUID guid, LPCSTR, LPCSTR, LPVOID context) {
    static_cast<Seen*>(context)->guids.push_back(guid ? *guid : GUID{});
    return TRUE;
}

// What the platform reports, counted independently of the lookup.
Seen enumerate(HRESULT(WINAPI* fn)(LPDSENUMCALLBACKA, LPVOID)) {
    Seen seen;
    fn(collect, &seen);
    return seen;
}

TEST_F(DeviceLookupTest, VirtualSoundcardPositions) {
    struct Direction {
        const char* setting;
        const DeviceLookup& (*lookup)();
        HRESULT(WINAPI* enumerate)(LPDSENUMCALLBACKA, LPVOID);
    } directions[] = {
        {"DX_OUT_DEVICE", lookupPlaybackDevice, DirectSoundEnumerateA},
        {"DX_IN_DEVICE", lookupCaptureDevice, DirectSoundCaptureEnumerateA},
    };
    for (const Direction& d : directions) {
        SCOPED_TRACE(d.setting);
        Seen seen = enumerate(d.enumerate);
        ASSERT_GE(seen.guids.size(), 2u) << "the virtual soundcard should list a primary driver and a device";
        ASSERT_TRUE(isZero(seen.guids[0])) << "position 0 is the primary driver, reported without a GUID";

        // Nothing stored: position 0, found, zero GUID.
        const DeviceLookup& first = d.lookup();
        EXPECT_TRUE(first.found);
        EXPECT_EQ(0, first.wantedPosition);
        EXPECT_TRUE(isZero(first.deviceGuid));

        // A real device: its GUID; then the primary again replaces it entirely.
        writeSettingInt(d.setting, 1);
        const DeviceLookup& second = d.lookup();
        EXPECT_TRUE(second.found);
        EXPECT_TRUE(IsEqualGUID(seen.guids[1], second.deviceGuid));
        writeSettingInt(d.setting, 0);
        EXPECT_TRUE(d.lookup().found);
        EXPECT_TRUE(isZero(d.lookup().deviceGuid));

        // One past the last device and the dialog's placeholder are not found.
        for (int position : {static_cast<int>(seen.guids.size()), -100}) {
            writeSettingInt(d.setting, position);
            const DeviceLookup& missing = d.lookup();
            EXPECT_FALSE(missing.found) << position;
            EXPECT_TRUE(isZero(missing.deviceGuid)) << position;
            EXPECT_EQ(static_cast<int>(seen.guids.size()), missing.counter);
        }
    }
}

HRESULT WINAPI enumerateNothing(LPDSENUMCALLBACKA, LPVOID) { return DS_OK; }

TEST_F(DeviceLookupTest, NoDevicesMeansNotFound) {
    PlatformOverride seam;
    seam.api().directSoundEnumerateA = enumerateNothing;
    seam.api().directSoundCaptureEnumerateA = enumerateNothing;
    EXPECT_FALSE(lookupPlaybackDevice().found);
    EXPECT_FALSE(lookupCaptureDevice().found);
    EXPECT_EQ(0, fillPlaybackDeviceList(nullptr));
}

// Three devices, the middle one with a GUID the test knows.
const GUID kFakeGuid = {0x12345678, 0x9abc, 0xdef0, {1, 2, 3, 4, 5, 6, 7, 8}};
HRESULT WINAPI enumerateThree(LPDSENUMCALLBACKA callback, LPVOID context) {
    GUID other = {0xffffffff, 0, 0, {0}};
    if (!callback(nullptr, "Primary Sound Driver", "", context)) return DS_OK;
    if (!callback(const_cast<GUID*>(&kFakeGuid), "Card A", "a.drv", context)) return DS_OK;
    callback(&other, "Card B", "b.drv", context);
    return DS_OK;
}

TEST_F(DeviceLookupTest, ListFillingGivesEachEntryItsPosition) {
    PlatformOverride seam;
    seam.api().directSoundCaptureEnumerateA = enumerateThree;
    HWND combo = CreateWindowA("COMBOBOX", "", CBS_DROPDOWNLIST | WS_POPUP, 0, 0, 200, 200, nullptr, nullptr,
                               GetModuleHandleA(nullptr), nullptr);
    ASSERT_TRUE(combo != nullptr) << "CreateWindow failed, error " << GetLastError();
    EXPECT_EQ(3, fillCaptureDeviceList(combo));
    ASSERT_EQ(3, SendMessageA(combo, CB_GETCOUNT, 0, 0));
    const char* names[] = {"Primary Sound Driver", "Card A", "Card B"};
    for (int i = 0; i < 3; ++i) {
        char text[64] = {};
        SendMessageA(combo, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(text));
        EXPECT_STREQ(names[i], text);
        EXPECT_EQ(i, SendMessageA(combo, CB_GETITEMDATA, i, 0));
    }
    DestroyWindow(combo);

    writeSettingInt("DX_IN_DEVICE", 1);
    EXPECT_TRUE(lookupCaptureDevice().found);
    EXPECT_TRUE(IsEqualGUID(kFakeGuid, lookupCaptureDevice().deviceGuid));
}

}  // namespace
