#include <string>

#include "settings/settings.h"
#include "support/regdeny.h"
#include "support/testenv.h"

namespace {

class SettingsTest : public HarnwickTest {};

// Stores raw REG_SZ bytes the way another program might.
void storeRaw(const char* name, const std::string& text) {
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_LOCAL_MACHINE, kSettingsKey, 0, nullptr, 0, KEY_SET_VALUE,
                                             nullptr, &key, nullptr));
    RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                   static_cast<DWORD>(text.size() + 1));
    RegCloseKey(key);
}

TEST_F(SettingsTest, AbsentKeyReadsEmptyAndDefaultsApply) {
    EXPECT_EQ("", readSettingText("SAVE_INPUT_FILENAME"));
    EXPECT_EQ(0, readSettingInt("TAKE_NUMBER"));
    EXPECT_FALSE(readSettingFlag("USE_DIRECTX"));
    EXPECT_EQ(44100, readSampleRate());
    EXPECT_EQ(2, readChannels());
    EXPECT_FALSE(settingsKeyExists()) << "reading must not create the key";

    writeSettingInt("TAKE_NUMBER", 1);
    EXPECT_TRUE(settingsKeyExists());
    EXPECT_EQ(1, readSettingInt("TAKE_NUMBER"));
}

TEST_F(SettingsTest, WrittenValuesAreStoredAsTerminatedText) {
    writeSettingInt("srate", -48000);
    writeSettingFlag("SAVE_INPUT", true);
    writeSettingFlag("SAVE_OUTPUT", false);
    writeSettingText("DISK_OUTPUT_DIRECTORY", "C:\\rec");

    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSettingsKey, 0, KEY_READ, &key));
    char data[64];
    DWORD type = 0, length = sizeof data;
    ASSERT_EQ(ERROR_SUCCESS, RegQueryValueExA(key, "srate", nullptr, &type, reinterpret_cast<BYTE*>(data), &length));
    EXPECT_EQ(static_cast<DWORD>(REG_SZ), type);
    EXPECT_EQ(7u, length);  // "-48000" and its terminator
    EXPECT_STREQ("-48000", data);
    RegCloseKey(key);

    EXPECT_EQ("TRUE", readSettingText("SAVE_INPUT"));
    EXPECT_EQ("FALSE", readSettingText("SAVE_OUTPUT"));
    EXPECT_EQ("C:\\rec", readSettingText("DISK_OUTPUT_DIRECTORY"));
    EXPECT_EQ("TRUE", readSettingText("save_input")) << "names are case-insensitive";
}

TEST_F(SettingsTest, NumbersParseLikeScanf) {
    struct Case {
        const char* text;
        int value;
    } cases[] = {
        {"abc", 0},   {"", 0},        {"   42", 42},    {"\t7", 7},   {"+15", 15},    {"-3", -3},
        {"12abc", 12}, {"9000 ms", 9000}, {"- 5", 0},  {"0x10", 0},  {"007", 7},
    };
    for (const Case& c : cases) {
        writeSettingText("chunks", c.text);
        EXPECT_EQ(c.value, readSettingInt("chunks")) << "text '" << c.text << "'";
    }
}

TEST_F(SettingsTest, ProcessingFormatDefaults) {
    struct Case {
        const char *name, *text;
        int (*read)();
        int value;
    } cases[] = {
        {"srate", "abc", readSampleRate, 44100}, {"srate", "99", readSampleRate, 44100},
        {"srate", "100", readSampleRate, 100},   {"srate", "384000", readSampleRate, 384000},  // no upper bound
        {"channels", "0", readChannels, 2},      {"channels", "-1", readChannels, 2},
        {"channels", "1", readChannels, 1},
        // Buffers are sized for stereo: more channels are read as stereo.
        {"channels", "3", readChannels, 2},      {"channels", "2147483647", readChannels, 2},
    };
    for (const Case& c : cases) {
        writeSettingText(c.name, c.text);
        EXPECT_EQ(c.value, c.read()) << c.name << " \"" << c.text << "\"";
    }
}

TEST_F(SettingsTest, FlagIsTrueOnlyForExactTRUE) {
    const char* falseTexts[] = {"true", "True", "TRUE ", " TRUE", "TRUEX", "1", "YES", "FALSE", ""};
    for (const char* text : falseTexts) {
        writeSettingText("PRIMARY", text);
        EXPECT_FALSE(readSettingFlag("PRIMARY")) << "text '" << text << "'";
    }
    writeSettingText("PRIMARY", "TRUE");
    EXPECT_TRUE(readSettingFlag("PRIMARY"));
}

TEST_F(SettingsTest, OverLongValuesReadAsMissing) {
    const std::string fits(255, 'a');
    writeSettingText("SAVE_OUTPUT_FILENAME", fits.c_str());
    EXPECT_EQ(fits, readSettingText("SAVE_OUTPUT_FILENAME"));

    const std::string tooLong(256, 'b');
    writeSettingText("SAVE_OUTPUT_FILENAME", tooLong.c_str());
    EXPECT_EQ("", readSettingText("SAVE_OUTPUT_FILENAME"));

    // A long number is not cut to its first digits either.
    storeRaw("srate", std::string(300, '4'));
    EXPECT_EQ(0, readSettingInt("srate"));
    EXPECT_EQ(44100, readSampleRate());

    // The read buffer is cleared each time: a short value after a long one has no leftovers.
    writeSettingText("SAVE_OUTPUT_FILENAME", "mix");
    EXPECT_EQ("mix", readSettingText("SAVE_OUTPUT_FILENAME"));
}

TEST_F(SettingsTest, RefusedWriteKeepsOldValueAndTellsTheUserOnceNamingTheKey) {
    writeSettingInt("TAKE_NUMBER", 5);

    // As a standard user meets the key under HKEY_LOCAL_MACHINE.
    RegistryWriteDenial denial(HKEY_LOCAL_MACHINE, kSettingsKey);
    ASSERT_EQ(ERROR_SUCCESS, denial.result()) << "the registry did not enforce the denial";

    MessageBoxRecorder boxes;
    writeSettingInt("TAKE_NUMBER", 6);
    writeSettingText("NEW_VALUE", "x");
    EXPECT_EQ(1u, boxes.calls().size()) << "one message for the process, not one per write";
    for (const MessageBoxRecorder::Call& box : boxes.calls()) {
        EXPECT_EQ("Harnwick Live", box.caption);
        EXPECT_EQ(UINT(MB_OK | MB_ICONWARNING), box.flags);
        EXPECT_NE(std::string::npos,
                  box.text.find("HKEY_LOCAL_MACHINE\\SOFTWARE\\Quillmark Labs\\Harnwick Live\\Settings"))
            << box.text;
    }
    EXPECT_EQ(5, readSettingInt("TAKE_NUMBER"));
    EXPECT_EQ("", readSettingText("NEW_VALUE"));
}

}  // namespace
