// Every program and DLL of the product carries the one version number in its
// version resource, as Explorer's properties and the installer read it.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "support/testenv.h"
#include "support/versioninfo.h"

TEST(VersionResource, EachBinaryNamesTheProductAndTheOneVersion) {
    char self[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    const std::string folder(self, strrchr(self, '\\') + 1);  // the test runs beside the binaries
    int major = 0, minor = 0, patch = 0;
    ASSERT_EQ(3, sscanf(HW_VERSION, "%d.%d.%d", &major, &minor, &patch));
    for (const char* file :
         {"HarnwickLive.exe", "HarnwickLive.dll", "HarnwickAmp.dll", "HarnwickReamp.exe", "HarnwickLatency.exe"}) {
        SCOPED_TRACE(file);
        const std::string path = folder + file;
        EXPECT_EQ("Harnwick Live", versionString(path, "ProductName"));
        EXPECT_EQ(HW_VERSION, versionString(path, "ProductVersion"));
        EXPECT_EQ(HW_VERSION, versionString(path, "FileVersion"));
        int fixedMajor = -1, fixedMinor = -1, fixedPatch = -1;
        DWORD type = 0;
        ASSERT_TRUE(fixedProductVersion(path, fixedMajor, fixedMinor, fixedPatch, type));
        EXPECT_EQ(std::vector<int>({major, minor, patch}), std::vector<int>({fixedMajor, fixedMinor, fixedPatch}));
        EXPECT_EQ(strstr(file, ".exe") ? DWORD(VFT_APP) : DWORD(VFT_DLL), type);
    }
}
