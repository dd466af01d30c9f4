// Every program and DLL of the product carries the one version number in its
// version resource, as Explorer's properties and the installer read it.
#include <string>

#include "support/testenv.h"
#include "support/versioninfo.h"

namespace {

// The test runs in the product's folder, beside the binaries.
std::string binPath(const char* name) {
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string folder(path);
    return folder.substr(0, folder.find_last_of('\\') + 1) + name;
}

TEST(VersionResource, EachBinaryNamesTheProductItselfAndTheOneVersion) {
    struct Binary {
        const char* file;
        DWORD type;
    } binaries[] = {{"HarnwickLive.exe", VFT_APP},
                    {"HarnwickLive.dll", VFT_DLL},
                    {"HarnwickAmp.dll", VFT_DLL},
                    {"HarnwickReamp.exe", VFT_APP},
                    {"HarnwickLatency.exe", VFT_APP}};
    int major = 0, minor = 0, patch = 0;
    ASSERT_EQ(3, sscanf(HW_VERSION, "%d.%d.%d", &major, &minor, &patch));
    for (const Binary& b : binaries) {
        SCOPED_TRACE(b.file);
        const std::string path = binPath(b.file);
        EXPECT_EQ("Harnwick Live", versionString(path, "ProductName"));
        EXPECT_EQ(HW_VERSION, versionString(path, "ProductVersion"));
        EXPECT_EQ(HW_VERSION, versionString(path, "FileVersion"));
        EXPECT_EQ(b.file, versionString(path, "OriginalFilename"));
        EXPECT_NE("", versionString(path, "FileDescription"));

        int fixedMajor = -1, fixedMinor = -1, fixedPatch = -1;
        DWORD type = 0;
        ASSERT_TRUE(fixedProductVersion(path, fixedMajor, fixedMinor, fixedPatch, type));
        EXPECT_EQ(major, fixedMajor);
        EXPECT_EQ(minor, fixedMinor);
        EXPECT_EQ(patch, fixedPatch);
        EXPECT_EQ(b.type, type);
    }
}

}  // namespace
