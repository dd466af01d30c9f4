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

// What the opener handed to the shell, and the first bytes of that file.
struct ShellCall {
    HWND owner;
    std::string verb, path;
    bool noParameters, noDirectory;
    int show;
    std::string head;
};
std::vector<ShellCall> g_shellCalls;
INT_PTR g_shellResult;
bool g_altDown;

HINSTANCE WINAPI fakeShellExecute(HWND owner, LPCSTR verb, LPCSTR file, LPCSTR parameters, LPCSTR directory,
                                  INT show) {
    std::vector<unsigned char> bytes = readFileBytes(file);
    std::string head(bytes.begin(), bytes.begin() + std::min<size_t>(bytes.size(), 6));
    g_shellCalls.push_back({owner, verb ? verb : "", file, parameters == nullptr, directory == nullptr, show, head});
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
        g_shellCalls.clear();
        g_shellResult = 42;
        g_altDown = false;
    }
    HWND owner() const { return GetDesktopWindow(); }
    PlatformOverride fake_;
    MessageBoxRecorder boxes_;
};

std::string format() { return readSettingText("OPEN_FORMAT"); }

TEST_F(HelpTest, AsksOnceRemembersAndAltAsksAgain) {
    const std::string pdf = programDirectory() + "\\manual_live.pdf";
    const std::string rtf = programDirectory() + "\\manual_live.rtf";

    boxes_.answer(IDYES);
    openHelpDocument(owner(), "manual_live.pdf");
    ASSERT_EQ(1u, boxes_.calls().size());
    const auto& question = boxes_.calls()[0];
    EXPECT_EQ(0u, question.text.find("The documentation for Harnwick (and Harnwick Live)\nis available in Adobe "
                                     "Acrobat PDF format ("));
    EXPECT_NE(std::string::npos,
              question.text.find(")\nand as simple RTF format.\n\n\nDo you wish to open the Adobe PDF version?\n"
                                 "(Press 'alt' to recieve this question next time.)"));
    EXPECT_EQ("Harnwick Live", question.caption);
    EXPECT_EQ(static_cast<UINT>(MB_YESNO | MB_ICONQUESTION), question.flags);
    EXPECT_EQ(owner(), question.owner);
    ASSERT_EQ(1u, g_shellCalls.size());
    EXPECT_EQ(pdf, g_shellCalls[0].path);
    EXPECT_EQ("%PDF-1", g_shellCalls[0].head) << "the real manual lies beside the program";
    EXPECT_EQ(nullptr, g_shellCalls[0].owner);
    EXPECT_EQ("open", g_shellCalls[0].verb);
    EXPECT_TRUE(g_shellCalls[0].noParameters && g_shellCalls[0].noDirectory);
    EXPECT_EQ(SW_SHOWNORMAL, g_shellCalls[0].show);
    EXPECT_EQ("1", format());

    openHelpDocument(owner(), "manual_live.pdf");  // remembered: no question
    EXPECT_EQ(1u, boxes_.calls().size());
    ASSERT_EQ(2u, g_shellCalls.size());
    EXPECT_EQ(pdf, g_shellCalls[1].path);

    g_altDown = true;  // Alt held: asked again; No chooses the RTF twin
    boxes_.answer(IDNO);
    openHelpDocument(owner(), "manual_live.pdf");
    EXPECT_EQ(2u, boxes_.calls().size());
    ASSERT_EQ(3u, g_shellCalls.size());
    EXPECT_EQ(rtf, g_shellCalls[2].path);
    EXPECT_EQ("{\\rtf1", g_shellCalls[2].head);
    EXPECT_EQ("2", format());

    g_altDown = false;
    openHelpDocument(owner(), "manual_live.pdf");
    EXPECT_EQ(2u, boxes_.calls().size());
    ASSERT_EQ(4u, g_shellCalls.size());
    EXPECT_EQ(rtf, g_shellCalls[3].path);
}

TEST_F(HelpTest, AMissingDocumentIsReportedAndTheQuestionComesBack) {
    writeSettingText("OPEN_FORMAT", "1");
    openHelpDocument(owner(), "no_such_manual.pdf");
    EXPECT_TRUE(g_shellCalls.empty());
    ASSERT_EQ(1u, boxes_.calls().size());
    EXPECT_EQ("The help document could not be opened", boxes_.calls()[0].text);
    EXPECT_EQ("Harnwick Live", boxes_.calls()[0].caption);
    EXPECT_EQ(static_cast<UINT>(MB_OK | MB_ICONERROR), boxes_.calls()[0].flags);
    EXPECT_EQ(owner(), boxes_.calls()[0].owner);
    EXPECT_EQ("0", format());
}

TEST_F(HelpTest, ShellFailuresAreReportedAndTheQuestionComesBack) {
    const std::string pdf = programDirectory() + "\\manual_live.pdf";
    struct Case {
        INT_PTR shellResult;
        std::string message;
    } cases[] = {
        {SE_ERR_NOASSOC,
         "It was not possible to open the help document.\nTo be able to read PDF documents, you need to\ninstall "
         "Adobe Acrobat Reader.\nTo be able to read RTF documents, you need\nMicrosoft Wordpad or Word."},
        {SE_ERR_ACCESSDENIED,
         "The help-document you requested:\n'" + pdf + "'\ncould not be opened! Errorcode: 5"},
        {0, "The help-document you requested:\n'" + pdf + "'\ncould not be opened! Errorcode: 0"},
        {32, "The help-document you requested:\n'" + pdf + "'\ncould not be opened! Errorcode: 32"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.shellResult);
        writeSettingText("OPEN_FORMAT", "1");
        g_shellResult = c.shellResult;
        size_t before = boxes_.calls().size();
        openHelpDocument(owner(), "manual_live.pdf");
        ASSERT_EQ(before + 1, boxes_.calls().size());
        EXPECT_EQ(c.message, boxes_.calls().back().text);
        EXPECT_EQ("Harnwick Live", boxes_.calls().back().caption);
        EXPECT_EQ(static_cast<UINT>(MB_OK | MB_ICONERROR), boxes_.calls().back().flags);
        EXPECT_EQ("0", format());
    }
    g_shellResult = 33;  // the first success: asked again, remembered again
    boxes_.answer(IDYES);
    openHelpDocument(owner(), "manual_live.pdf");
    EXPECT_EQ("1", format());
}

TEST_F(HelpTest, HostProgramDirectory) {
    char directory[kHostDirectoryBytes];
    hostProgramDirectory(directory);
    EXPECT_EQ(programDirectory(), directory);

    fake_.api().getModuleFileNameA = fakeModuleFileName;
    g_moduleName = "C:\\Program Files\\Harnwick\\HarnwickLive.exe";
    hostProgramDirectory(directory);
    EXPECT_STREQ("C:\\Program Files\\Harnwick", directory);

    g_moduleName = "HarnwickLive.exe";  // no backslash: the whole name
    hostProgramDirectory(directory);
    EXPECT_STREQ("HarnwickLive.exe", directory);
    writeSettingText("OPEN_FORMAT", "1");
    openHelpDocument(owner(), "manual_live.pdf");  // looks for "HarnwickLive.exe\manual_live.pdf"
    ASSERT_EQ(1u, boxes_.calls().size());
    EXPECT_EQ("The help document could not be opened", boxes_.calls()[0].text);

    g_moduleName = std::string(300, 'x');  // longer than the 255-byte capacity: cut, still terminated
    hostProgramDirectory(directory);
    EXPECT_EQ(254u, strlen(directory));
}

}  // namespace
