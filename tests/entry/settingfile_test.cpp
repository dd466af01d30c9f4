// The plug-in setting file beside the host executable, on a fake plug-in.
#include <cstdlib>
#include <cstring>
#include <random>

#include "entry/entry.h"
#include "support/fakefilter.h"
#include "support/testenv.h"

namespace {

std::string g_executable;

DWORD WINAPI fakeModuleFileName(HMODULE, LPSTR buffer, DWORD size) {
    strncpy(buffer, g_executable.c_str(), size);
    return static_cast<DWORD>(g_executable.size());
}

SIZE_T g_largestAllocation;
HGLOBAL WINAPI recordingGlobalAlloc(UINT flags, SIZE_T bytes) {
    if (bytes > g_largestAllocation) g_largestAllocation = bytes;
    return GlobalAlloc(flags, bytes);
}

class SettingFileTest : public HarnwickTest {
protected:
    void SetUp() override {
        HarnwickTest::SetUp();
        g_executable = tempPath("HarnwickLive.exe");
        seam_.api().getModuleFileNameA = fakeModuleFileName;
        file_ = tempPath("Default Live setting");
    }
    void store(const std::vector<unsigned char>& bytes) {
        FILE* f = fopen(file_.c_str(), "wb");
        if (!bytes.empty()) fwrite(bytes.data(), 1, bytes.size(), f);
        fclose(f);
    }
    PlatformOverride seam_;
    std::string file_;
};

TEST_F(SettingFileTest, SavedStateComesBackAndReplacesAForeignFileWhole) {
    FakeFilter plugin;
    store({'R', 'I', 'F', 'F', 0, 0, 0, 0});
    plugin.stateBytes = 300;
    plugin.writtenBytes = 40;  // a short save still stores the whole block
    plugin.value = 0x11;
    ASSERT_EQ(1, saveDefaultSetting(&plugin));
    std::vector<unsigned char> bytes = readFileBytes(file_);
    ASSERT_EQ(12u + 300u, bytes.size());
    EXPECT_EQ(0, memcmp(bytes.data(), "HwLv", 4));
    EXPECT_EQ(0x11, bytes[12 + 39]);

    FakeFilter next;
    next.stateBytes = 300;
    next.value = 0x77;
    EXPECT_EQ(1, loadDefaultSetting(&next));
    EXPECT_EQ(1, next.loads);
    EXPECT_EQ(0x11, next.value);
    EXPECT_EQ(1, next.refs) << "the persistence interface is released";
}

TEST_F(SettingFileTest, StateCopyIsBoundedAndTheOldFileSurvivesUntilTheNewIsComplete) {
    FakeFilter old;
    old.value = 0x11;
    ASSERT_EQ(1, saveDefaultSetting(&old));
    const std::vector<unsigned char> oldBytes = readFileBytes(file_);

    // The plug-in's size grows between the capture and the size written: only
    // the captured block is copied, the rest of the stated size is zeros.
    FakeFilter growing;
    growing.stateBytes = growing.writtenBytes = 300;
    growing.value = 0x22;
    int questions = 0;
    std::vector<unsigned char> seenMidway;
    growing.onSizeMax = [&] {
        if (++questions == 2) {
            seenMidway = readFileBytes(file_);
            growing.stateBytes = 16 << 20;
        }
    };
    ASSERT_EQ(1, saveDefaultSetting(&growing));
    EXPECT_EQ(oldBytes, seenMidway) << "while saving, the previous file is still whole";
    std::vector<unsigned char> bytes = readFileBytes(file_);
    ASSERT_EQ(12u + (16u << 20), bytes.size());
    EXPECT_EQ(0x22, bytes[12 + 299]);
    EXPECT_EQ(std::vector<unsigned char>(bytes.size() - 312, 0), std::vector<unsigned char>(bytes.begin() + 312, bytes.end()));
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA((file_ + ".new").c_str())) << "nothing left beside it";
}

// Damaged and random files (HW_FUZZ_FILES of them, 5000 by default): the
// reader never crashes, never allocates more than the file holds, and the
// plug-in loads exactly the files that are valid, judged here on their own.
TEST_F(SettingFileTest, FuzzedFilesLoadOnlyWhenValid) {
    PlatformOverride seam;
    seam.api().globalAlloc = recordingGlobalAlloc;
    const char* count = getenv("HW_FUZZ_FILES");
    const int files = count ? atoi(count) : 5000;
    std::mt19937 random(11);
    auto below = [&](uint32_t n) { return static_cast<uint32_t>(random() % n); };
    const ULONG sizes[] = {1, 64, 300};
    FakeFilter plugin;
    int valid = 0;
    for (int i = 0; i < files; ++i) {
        const ULONG stored = sizes[below(3)];
        plugin.stateBytes = sizes[below(3)];  // another version of the plug-in when they differ
        std::vector<unsigned char> bytes(12 + stored, static_cast<unsigned char>(0x80 | below(128)));
        uint64_t field = stored;
        memcpy(bytes.data(), "HwLv", 4);
        memcpy(bytes.data() + 4, &field, 8);
        const uint32_t damage = below(6);
        if (damage == 1) {
            for (uint32_t n = 1 + below(4); n; --n) bytes[below(16)] ^= static_cast<unsigned char>(1 + below(255));
        } else if (damage == 2) {
            bytes.resize(below(static_cast<uint32_t>(bytes.size())));  // cut short
        } else if (damage == 3) {
            bytes.resize(below(40));
            for (auto& b : bytes) b = static_cast<unsigned char>(random());
        } else if (damage >= 4) {
            field = damage == 4 ? (static_cast<uint64_t>(random()) << 32) | random()
                                : plugin.stateBytes + (below(2) ? 0x100000000ull : 0);
            memcpy(bytes.data() + 4, &field, 8);
            if (damage == 5) bytes.resize(12 + below(600));
        }
        store(bytes);

        uint32_t low = 0;
        if (bytes.size() >= 12) memcpy(&low, bytes.data() + 4, 4);
        const bool isValid = bytes.size() >= 12 && memcmp(bytes.data(), "HwLv", 4) == 0 &&
                             low == plugin.stateBytes && bytes.size() >= 12ull + low;
        const int loadsBefore = plugin.loads;
        plugin.value = 0x01;
        g_largestAllocation = 0;
        valid += isValid;
        ASSERT_EQ(isValid ? 1 : 0, loadDefaultSetting(&plugin)) << "file " << i;
        ASSERT_EQ(loadsBefore + (isValid ? 1 : 0), plugin.loads) << "file " << i;
        ASSERT_EQ(isValid ? bytes[12] : 0x01, plugin.value) << "file " << i;
        ASSERT_LE(g_largestAllocation, bytes.size()) << "file " << i;
    }
    EXPECT_GT(valid, files / 20) << "valid files are among them";
    EXPECT_EQ(1, plugin.refs);
}

TEST_F(SettingFileTest, WithoutPersistenceOrAPathThatFitsNoFileIsTouched) {
    FakeFilter writer;
    ASSERT_EQ(1, saveDefaultSetting(&writer));
    const std::vector<unsigned char> before = readFileBytes(file_);
    for (bool persistent : {false, true}) {
        SCOPED_TRACE(persistent ? "a path that does not fit" : "no persistence");
        if (persistent) g_executable = "C:\\" + std::string(240, 'd') + "\\HarnwickLive.exe";
        FakeFilter plugin;
        plugin.persistent = persistent;
        EXPECT_EQ(0, saveDefaultSetting(&plugin));
        EXPECT_EQ(0, loadDefaultSetting(&plugin));
        EXPECT_EQ(0, plugin.loads);
        EXPECT_EQ(1, plugin.refs);
        EXPECT_EQ(before, readFileBytes(file_));
    }
}

}  // namespace
