#include <string>

#include "settings/settings.h"
#include "support/regdeny.h"
#include "support/testenv.h"

namespace {

class SettingsTest : public HarnwickTest {};

TEST_F(SettingsTest, AbsentKeyReadsEmptyAndIsNotCreatedByReading) {
    EXPECT_EQ("", readSettingText("SAVE_INPUT_FILENAME"));
    EXPECT_EQ(0, readSettingInt("TAKE_NUMBER"));
    EXPECT_EQ(44100, readSampleRate());
    EXPECT_EQ(2, readChannels());
    EXPECT_FALSE(settingsKeyExists()) << "reading must not create the key";
}

TEST_F(SettingsTest, WrittenValuesAreStoredAsTerminatedText) {
    writeSettingInt("srate", -48000);
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSettingsKey, 0, KEY_READ, &key));
    char data[64];
    DWORD type = 0, length = sizeof data;
    ASSERT_EQ(ERROR_SUCCESS, RegQueryValueExA(key, "srate", nullptr, &type, reinterpret_cast<BYTE*>(data), &length));
    RegCloseKey(key);
    EXPECT_EQ(static_cast<DWORD>(REG_SZ), type);
    EXPECT_EQ(7u, length);  // "-48000" and its terminator
    EXPECT_STREQ("-48000", data);
}

// Each reader's value for the stored text: numbers as "%d" scans them, flags
// only for the exact "TRUE", the processing format with its defaults.
TEST_F(SettingsTest, ReadersTakeTheStoredTextAsItStands) {
    const auto chunks = [] { return readSettingInt("chunks"); };
    const auto flag = [] { return int(readSettingFlag("PRIMARY")); };
    const std::string longNumber(300, '4');  // not cut to its first digits
    struct Case {
        const char *name, *text;
        int (*read)();
        int value;
    } cases[] = {
        {"chunks", "abc", chunks, 0},
        {"chunks", "   42", chunks, 42},
        {"chunks", "-3", chunks, -3},
        {"chunks", "9000 ms", chunks, 9000},
        {"chunks", "- 5", chunks, 0},
        {"chunks", "0x10", chunks, 0},
        {"chunks", longNumber.c_str(), chunks, 0},
        {"PRIMARY", "TRUE", flag, 1},
        {"PRIMARY", "true", flag, 0},
        {"PRIMARY", "TRUE ", flag, 0},
        {"srate", "99", readSampleRate, 44100},
        {"srate", "100", readSampleRate, 100},
        {"srate", "384000", readSampleRate, 384000},  // no upper bound
        {"channels", "0", readChannels, 2},
        {"channels", "1", readChannels, 1},
        // Buffers are sized for stereo: more channels are read as stereo.
        {"channels", "3", readChannels, 2},
    };
    for (const Case& c : cases) {
        writeSettingText(c.name, c.text);
        EXPECT_EQ(c.value, c.read()) << c.name << " \"" << c.text << "\"";
    }
}

TEST_F(SettingsTest, OverLongTextReadsAsMissing) {
    for (int length : {255, 256, 3}) {  // the buffer is cleared: no leftovers after a long value
        const std::string text(length, 'a');
        writeSettingText("SAVE_OUTPUT_FILENAME", text.c_str());
        EXPECT_EQ(length == 256 ? "" : text, readSettingText("SAVE_OUTPUT_FILENAME")) << length;
    }
}

TEST_F(SettingsTest, RefusedWriteKeepsOldValueAndTellsTheUserOnceNamingTheKey) {
    writeSettingInt("TAKE_NUMBER", 5);
    // As a standard user meets the key under HKEY_LOCAL_MACHINE.
    RegistryWriteDenial denial(HKEY_LOCAL_MACHINE, kSettingsKey);
    ASSERT_EQ(ERROR_SUCCESS, denial.result()) << "the registry did not enforce the denial";
    MessageBoxRecorder boxes;
    writeSettingInt("TAKE_NUMBER", 6);
    writeSettingText("NEW_VALUE", "x");
    ASSERT_EQ(1u, boxes.calls().size()) << "one message for the process, not one per write";
    EXPECT_EQ(UINT(MB_OK | MB_ICONWARNING), boxes.calls()[0].flags);
    EXPECT_NE(std::string::npos,
              boxes.calls()[0].text.find("HKEY_LOCAL_MACHINE\\SOFTWARE\\Quillmark Labs\\Harnwick Live\\Settings"));
    EXPECT_EQ(5, readSettingInt("TAKE_NUMBER"));
    EXPECT_EQ("", readSettingText("NEW_VALUE"));
}

}  // namespace
