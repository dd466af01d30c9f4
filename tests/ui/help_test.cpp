// The help document opener against the real manual files the build places
// beside this test program, with the shell's opener and the key state
// replaced so that the test chooses what the system answers.
#include <algorithm>
#include <string>
#include <vector>

#include "settings/settings.h"
#include "support/testenv.h"  // windows.h before the shell's header
#include <shellapi.h>

#include "ui/dialogs.h"

namespace {

// The files handed to the shell, each with its first bytes.
std::vector<std::pair<std::string, std::string>> g_opened;
INT_PTR g_shellResult;
bool g_altDown;

HINSTANCE WINAPI fakeShellExecute(HWND, LPCSTR, LPCSTR file, LPCSTR, LPCSTR, INT) {
    std::vector<unsigned char> bytes = readFileBytes(file);
    g_opened.push_back({file, std::string(bytes.begin(), bytes.begin() + std::min<size_t>(bytes.size(), 6))});
    return reinterpret_cast<HINSTANCE>(g_shellResult);
}

SHORT WINAPI fakeAsyncKeyState(int key) { return key == VK_MENU && g_altDown ? SHORT(0x8000) : 0; }

std::string g_moduleName;
DWORD WINAPI fakeModuleFileName(HMODULE, LPSTR buffer, DWORD size) {
    lstrcpynA(buffer, g_moduleName.c_str(), size);
    return static_cast<DWORD>(strlen(buffer));
}

std::string programDirectory() {
    char path[MAX_PATH];
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string s = path;
    return s.substr(0, s.rfind('\\'));
}

class HelpTest : public HarnwickTest {
protected:
    void SetUp() override {
        HarnwickTest::SetUp();
        fake_.api().shellExecuteA = fakeShellExecute;
        fake_.api().getAsyncKeyState = fakeAsyncKeyState;
        g_opened.clear();
        g_shellResult = 42;
        g_altDown = false;
    }
    HWND owner() const { return GetDesktopWindow(); }
    PlatformOverride fake_;
    MessageBoxRecorder boxes_;
};

// Asked once, remembered, asked again with Alt held or after a failure, which
// is reported.
TEST_F(HelpTest, AsksOnceRemembersAndReportsFailures) {
    const std::string pdf = programDirectory() + "\\manual_live.pdf", rtf = programDirectory() + "\\manual_live.rtf";
    const auto failed = [&](int code) {
        return "The help-document you requested:\n'" + pdf +
               "'\ncould not be opened! Errorcode: " + std::to_string(code);
    };
    const std::string noViewer =
        "It was not possible to open the help document.\nTo be able to read PDF documents, you need to\ninstall "
        "Adobe Acrobat Reader.\nTo be able to read RTF documents, you need\nMicrosoft Wordpad or Word.";
    struct Step {
        const char* document;
        bool alt;
        int answer;  // 0: no question expected
        INT_PTR shellResult;
        const std::string& opened;  // empty: not handed to the shell
        std::string message;        // empty: none
        const char* format;
    } steps[] = {
        {"manual_live.pdf", false, IDYES, 42, pdf, "", "1"},  // asked: Yes opens the PDF
        {"manual_live.pdf", false, 0, 42, pdf, "", "1"},      // remembered
        {"manual_live.pdf", true, IDNO, 42, rtf, "", "2"},    // Alt held: asked again; No chooses the RTF twin
        {"manual_live.pdf", false, 0, 42, rtf, "", "2"},
        {"no_such_manual.pdf", false, 0, 42, "", "The help document could not be opened", "0"},
        {"manual_live.pdf", false, IDYES, SE_ERR_NOASSOC, pdf, noViewer, "0"},
        {"manual_live.pdf", false, IDYES, SE_ERR_ACCESSDENIED, pdf, failed(5), "0"},
        {"manual_live.pdf", false, IDYES, 32, pdf, failed(32), "0"},
        {"manual_live.pdf", false, IDYES, 33, pdf, "", "1"},  // the first success
    };
    const std::string none;
    size_t boxes = 0;
    for (const Step& s : steps) {
        SCOPED_TRACE(testing::Message() << s.shellResult << " " << s.format);
        g_altDown = s.alt;
        g_shellResult = s.shellResult;
        if (s.answer) boxes_.answer(s.answer);
        g_opened.clear();
        openHelpDocument(owner(), s.document);
        boxes += (s.answer ? 1 : 0) + (s.message.empty() ? 0 : 1);
        ASSERT_EQ(boxes, boxes_.calls().size());
        if (!s.message.empty()) {
            EXPECT_EQ(s.message, boxes_.calls().back().text);
            EXPECT_EQ(static_cast<UINT>(MB_OK | MB_ICONERROR), boxes_.calls().back().flags);
        }
        EXPECT_EQ(s.opened, g_opened.empty() ? none : g_opened[0].first);
        if (!g_opened.empty()) {
            EXPECT_EQ(s.opened == pdf ? "%PDF-1" : "{\\rtf1", g_opened[0].second)
                << "the real manual lies beside the program";
        }
        EXPECT_EQ(s.format, readSettingText("OPEN_FORMAT"));
    }
    EXPECT_EQ(static_cast<UINT>(MB_YESNO | MB_ICONQUESTION), boxes_.calls()[0].flags);
    EXPECT_EQ(owner(), boxes_.calls()[0].owner);
}

TEST_F(HelpTest, HostProgramDirectory) {
    char directory[kHostDirectoryBytes];
    fake_.api().getModuleFileNameA = fakeModuleFileName;
    struct Case {
        std::string module, directory;
    } cases[] = {
        {"C:\\Program Files\\Harnwick\\HarnwickLive.exe", "C:\\Program Files\\Harnwick"},
        {"HarnwickLive.exe", "HarnwickLive.exe"},        // no backslash: the whole name
        {std::string(300, 'x'), std::string(254, 'x')},  // longer than the 255-byte capacity: cut, terminated
    };
    for (const Case& c : cases) {
        g_moduleName = c.module;
        hostProgramDirectory(directory);
        EXPECT_EQ(c.directory, directory);
    }
}

}  // namespace
