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

TEST_F(HelpTest, AsksOnceRemembersAndAltAsksAgain) {
    const std::string pdf = programDirectory() + "\\manual_live.pdf";
    const std::string rtf = programDirectory() + "\\manual_live.rtf";
    struct Step {
        bool alt;
        int answer;  // 0: no question expected
        const std::string& opened;
        const char *head, *format;
    } steps[] = {
        {false, IDYES, pdf, "%PDF-1", "1"},   // asked: Yes opens the PDF
        {false, 0, pdf, "%PDF-1", "1"},       // remembered
        {true, IDNO, rtf, "{\\rtf1", "2"},    // Alt held: asked again; No chooses the RTF twin
        {false, 0, rtf, "{\\rtf1", "2"},
    };
    size_t questions = 0;
    for (const Step& s : steps) {
        SCOPED_TRACE(s.format);
        g_altDown = s.alt;
        if (s.answer) boxes_.answer(s.answer);
        openHelpDocument(owner(), "manual_live.pdf");
        questions += s.answer ? 1 : 0;
        ASSERT_EQ(questions, boxes_.calls().size());
        const ShellCall& call = g_shellCalls.back();
        EXPECT_EQ(s.opened, call.path);
        EXPECT_EQ(s.head, call.head) << "the real manual lies beside the program";
        EXPECT_EQ(nullptr, call.owner);
        EXPECT_EQ("open", call.verb);
        EXPECT_TRUE(call.noParameters && call.noDirectory);
        EXPECT_EQ(SW_SHOWNORMAL, call.show);
        EXPECT_EQ(s.format, readSettingText("OPEN_FORMAT"));
    }
    const auto& question = boxes_.calls()[0];
    EXPECT_EQ(0u, question.text.find("The documentation for Harnwick (and Harnwick Live)\nis available in Adobe "
                                     "Acrobat PDF format ("));
    EXPECT_NE(std::string::npos,
              question.text.find(")\nand as simple RTF format.\n\n\nDo you wish to open the Adobe PDF version?\n"
                                 "(Press 'alt' to recieve this question next time.)"));
    EXPECT_EQ("Harnwick Live", question.caption);
    EXPECT_EQ(static_cast<UINT>(MB_YESNO | MB_ICONQUESTION), question.flags);
    EXPECT_EQ(owner(), question.owner);
}

TEST_F(HelpTest, FailuresAreReportedAndTheQuestionComesBack) {
    const std::string pdf = programDirectory() + "\\manual_live.pdf";
    const auto failed = [&](int code) {
        return "The help-document you requested:\n'" + pdf + "'\ncould not be opened! Errorcode: " +
               std::to_string(code);
    };
    struct Case {
        const char* document;
        INT_PTR shellResult;
        std::string message;
    } cases[] = {
        {"no_such_manual.pdf", 42, "The help document could not be opened"},
        {"manual_live.pdf", SE_ERR_NOASSOC,
         "It was not possible to open the help document.\nTo be able to read PDF documents, you need to\ninstall "
         "Adobe Acrobat Reader.\nTo be able to read RTF documents, you need\nMicrosoft Wordpad or Word."},
        {"manual_live.pdf", SE_ERR_ACCESSDENIED, failed(5)},
        {"manual_live.pdf", 0, failed(0)},
        {"manual_live.pdf", 32, failed(32)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        writeSettingText("OPEN_FORMAT", "1");
        g_shellResult = c.shellResult;
        const size_t before = boxes_.calls().size();
        openHelpDocument(owner(), c.document);
        ASSERT_EQ(before + 1, boxes_.calls().size());
        EXPECT_EQ(c.message, boxes_.calls().back().text);
        EXPECT_EQ("Harnwick Live", boxes_.calls().back().caption);
        EXPECT_EQ(static_cast<UINT>(MB_OK | MB_ICONERROR), boxes_.calls().back().flags);
        EXPECT_EQ(owner(), boxes_.calls().back().owner);
        EXPECT_EQ("0", readSettingText("OPEN_FORMAT"));
    }
    EXPECT_EQ(4u, g_shellCalls.size()) << "a missing document is not handed to the shell";
    g_shellResult = 33;  // the first success: asked again, remembered again
    boxes_.answer(IDYES);
    openHelpDocument(owner(), "manual_live.pdf");
    EXPECT_EQ("1", readSettingText("OPEN_FORMAT"));
}

TEST_F(HelpTest, HostProgramDirectory) {
    char directory[kHostDirectoryBytes];
    hostProgramDirectory(directory);
    EXPECT_EQ(programDirectory(), directory);

    fake_.api().getModuleFileNameA = fakeModuleFileName;
    struct Case {
        std::string module, directory;
    } cases[] = {
        {"C:\\Program Files\\Harnwick\\HarnwickLive.exe", "C:\\Program Files\\Harnwick"},
        {"HarnwickLive.exe", "HarnwickLive.exe"},  // no backslash: the whole name
        {std::string(300, 'x'), std::string(254, 'x')},  // longer than the 255-byte capacity: cut, terminated
    };
    for (const Case& c : cases) {
        g_moduleName = c.module;
        hostProgramDirectory(directory);
        EXPECT_EQ(c.directory, directory);
    }
    g_moduleName = "HarnwickLive.exe";
    writeSettingText("OPEN_FORMAT", "1");
    openHelpDocument(owner(), "manual_live.pdf");  // looks for "HarnwickLive.exe\manual_live.pdf"
    ASSERT_EQ(1u, boxes_.calls().size());
    EXPECT_EQ("The help document could not be opened", boxes_.calls()[0].text);
}

}  // namespace
