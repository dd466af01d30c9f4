// The plug-in setting file beside the host executable, on a fake plug-in.
#include <cstring>

#include "entry/entry.h"
#include "support/fakefilter.h"
#include "support/testenv.h"

namespace {

std::string g_executable;

DWORD WINAPI fakeModuleFileName(HMODULE, LPSTR buffer, DWORD size) {
    strncpy(buffer, g_executable.c_str(), size);
    return static_cast<DWORD>(g_executable.size());
}

class SettingFileTest : public HarnwickTest {
protected:
    void SetUp() override {
        HarnwickTest::SetUp();
        g_executable = tempPath("HarnwickLive.exe");
        seam_.api().getModuleFileNameA = fakeModuleFileName;
        file_ = tempPath("Default Live setting");
    }
    PlatformOverride seam_;
    std::string file_;
};

TEST_F(SettingFileTest, SavedStateComesBack) {
    FakeFilter plugin;
    EXPECT_EQ(0, loadDefaultSetting(&plugin)) << "no file yet";
    EXPECT_EQ(0, plugin.loads);

    plugin.stateBytes = plugin.writtenBytes = 300;
    plugin.value = 0x11;
    ASSERT_EQ(1, saveDefaultSetting(&plugin));
    std::vector<unsigned char> bytes = readFileBytes(file_);
    ASSERT_EQ(12u + 300u, bytes.size());
    EXPECT_EQ(0, memcmp(bytes.data(), "HwLv", 4));
    uint64_t size;
    memcpy(&size, bytes.data() + 4, 8);
    EXPECT_EQ(300u, size) << "the size field takes 8 bytes";
    EXPECT_EQ(0x11, bytes[12]);
    EXPECT_EQ(0x11, bytes[311]);

    FakeFilter next;
    next.stateBytes = next.writtenBytes = 300;
    next.value = 0x77;
    EXPECT_EQ(1, loadDefaultSetting(&next));
    EXPECT_EQ(1, next.loads);
    EXPECT_EQ(0x11, next.value);
    EXPECT_EQ(1, next.refs) << "the persistence interface is released";
}

TEST_F(SettingFileTest, ShortSaveStillStoresTheWholeBlock) {
    FakeFilter plugin;
    plugin.stateBytes = 100;
    plugin.writtenBytes = 40;
    ASSERT_EQ(1, saveDefaultSetting(&plugin));
    EXPECT_EQ(112u, readFileBytes(file_).size());
}

TEST_F(SettingFileTest, ForeignTruncatedOrOtherVersionFilesAreIgnored) {
    FakeFilter writer;
    writer.stateBytes = writer.writtenBytes = 300;
    ASSERT_EQ(1, saveDefaultSetting(&writer));
    const std::vector<unsigned char> valid = readFileBytes(file_);

    auto store = [&](const std::vector<unsigned char>& bytes) {
        FILE* f = fopen(file_.c_str(), "wb");
        fwrite(bytes.data(), 1, bytes.size(), f);
        fclose(f);
    };
    FakeFilter reader;
    reader.stateBytes = 300;

    std::vector<unsigned char> foreign = valid;
    memcpy(foreign.data(), "RIFF", 4);
    store(foreign);
    EXPECT_EQ(0, loadDefaultSetting(&reader));

    store(std::vector<unsigned char>(valid.begin(), valid.begin() + 3));
    EXPECT_EQ(0, loadDefaultSetting(&reader));

    store(valid);
    reader.stateBytes = 320;  // another version of the plug-in
    EXPECT_EQ(0, loadDefaultSetting(&reader));
    EXPECT_EQ(0, reader.loads) << "the state is not offered";

    // Saving replaces whatever was there with a valid file.
    store(foreign);
    ASSERT_EQ(1, saveDefaultSetting(&reader));
    std::vector<unsigned char> replaced = readFileBytes(file_);
    ASSERT_EQ(12u + 320u, replaced.size());
    EXPECT_EQ(0, memcmp(replaced.data(), "HwLv", 4));
}

TEST_F(SettingFileTest, PluginWithoutPersistenceTouchesNothing) {
    FakeFilter plugin;
    plugin.persistent = false;
    EXPECT_EQ(0, saveDefaultSetting(&plugin));
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(file_.c_str())) << "no file created";
    FakeFilter writer;
    ASSERT_EQ(1, saveDefaultSetting(&writer));
    EXPECT_EQ(0, loadDefaultSetting(&plugin));
    EXPECT_EQ(1, plugin.refs);
}

TEST_F(SettingFileTest, PathThatDoesNotFitTouchesNoFile) {
    g_executable = "C:\\" + std::string(240, 'd') + "\\HarnwickLive.exe";
    FakeFilter plugin;
    EXPECT_EQ(0, saveDefaultSetting(&plugin));
    EXPECT_EQ(0, loadDefaultSetting(&plugin));
    EXPECT_EQ(0, plugin.loads);
}

}  // namespace
