// The help document opener and the host program directory. The manual lies
// beside the host program as a PDF and as its RTF twin; the user's choice of
// format is remembered in "OPEN_FORMAT" (0 ask, 1 PDF, 2 RTF) until an opening
// fails or the user holds Alt.
#include <cstdio>
#include <cstring>

#include "platform/platform.h"  // windows.h first, then the shell's header
#include <shellapi.h>

#include "settings/settings.h"
#include "tracelog/trace.h"
#include "ui/dialogs.h"

namespace {

enum DocumentFormat { kAskFormat = 0, kPdfFormat = 1, kRtfFormat = 2 };

const int kDocumentPathBytes = 512;
const int kErrorMessageBytes = 256;

const char* const kFormatQuestion =
    "The documentation for Harnwick (and Harnwick Live)\n"
    "is available in Adobe Acrobat PDF format (https://www.adobe.com/acrobat/pdf-reader.html)\n"
    "and as simple RTF format.\n\n\n"
    "Do you wish to open the Adobe PDF version?\n"
    "(Press 'alt' to recieve this question next time.)";

bool altKeyDown() { return (platform().getAsyncKeyState(VK_MENU) & 0x8000) != 0; }

int askFormat(HWND owner) {
    int answer = showMessage(owner, kFormatQuestion, kMessageCaption, MB_YESNO | MB_ICONQUESTION);
    return answer == IDYES ? kPdfFormat : kRtfFormat;
}

void documentPath(const char* documentName, int format, char* path) {
    char directory[kHostDirectoryBytes];
    hostProgramDirectory(directory);
    snprintf(path, kDocumentPathBytes, "%s\\%s", directory, documentName);
    size_t length = strlen(path);
    if (format == kRtfFormat && length >= 3) memcpy(path + length - 3, "rtf", 3);
}

void reportFailure(HWND owner, const char* text) {
    TRACE(TRACE_ERROR, "Help document: %s", text);
    showMessage(owner, text, kMessageCaption, MB_OK | MB_ICONERROR);
    writeSettingInt("OPEN_FORMAT", kAskFormat);
}

}  // namespace

void hostProgramDirectory(char* directory) {
    memset(directory, 0, kHostDirectoryBytes);
    platform().getModuleFileNameA(nullptr, directory, kHostDirectoryBytes - 1);
    char* lastBackslash = strrchr(directory, '\\');
    if (lastBackslash) *lastBackslash = '\0';
}

void openHelpDocument(HWND owner, const char* documentName) {
    int format = readSettingInt("OPEN_FORMAT");
    if (altKeyDown() || format == kAskFormat) format = askFormat(owner);

    char path[kDocumentPathBytes];
    documentPath(documentName, format, path);
    if (GetFileAttributesA(path) == INVALID_FILE_ATTRIBUTES) {
        reportFailure(owner, "The help document could not be opened");
        return;
    }
    INT_PTR result = reinterpret_cast<INT_PTR>(
        platform().shellExecuteA(nullptr, "open", path, nullptr, nullptr, SW_SHOWNORMAL));
    if (result > 32) {
        writeSettingInt("OPEN_FORMAT", format);
        return;
    }
    if (result == SE_ERR_NOASSOC) {
        reportFailure(owner,
                      "It was not possible to open the help document.\nTo be able to read PDF documents, you need to\n"
                      "install Adobe Acrobat Reader.\nTo be able to read RTF documents, you need\n"
                      "Microsoft Wordpad or Word.");
        return;
    }
    char message[kErrorMessageBytes];
    snprintf(message, sizeof message, "The help-document you requested:\n'%s'\ncould not be opened! Errorcode: %d", path,
             static_cast<int>(result));
    reportFailure(owner, message);
}
