// The user interface room: the dialogs the user sets up before playing.
//
// - Soundcard properties ("SCARD"): sound system, devices, rate, chunk sizes,
//   latency options and the two save boxes; reads every value from the
//   settings store when it opens and writes them all back on OK.
// - Disk options ("DISK_OPTIONS") and the folder browser: recording file
//   names, take numbers and the output directory.
// - The configuration wizard (two pages), the first-start check that shows it
//   once, and the help document opener.
//
// Every dialog loads from moduleInstance() (the DLL, or the program in tests)
// and runs modally on the calling thread. The templates live in ui.rc; the
// build links its compiled form into each binary that shows these dialogs.
#pragma once

#include <windows.h>

// Template names in the resource script.
extern const char* const kSoundcardDialogName;      // "SCARD"
extern const char* const kDiskOptionsDialogName;    // "DISK_OPTIONS"
extern const char* const kWizardFirstStartupName;   // "WIZARD_FIRST_STARTUP"
extern const char* const kWizardDisclaimerName;     // "WIZARD_DISCLAIMER"

// Caption of every message the dialogs show.
extern const char* const kMessageCaption;  // "Harnwick Live"

// Dialog procedures, for DialogBoxParamA with the names above.
INT_PTR CALLBACK soundcardDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK diskOptionsDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
// Shared by both wizard pages: centres itself; 1 ends with 1, 2 with 0.
INT_PTR CALLBACK centredDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// Runs a template from moduleInstance() modally; the dialog's result, or -1
// (traced) when it could not be created.
INT_PTR runDialog(const char* templateName, HWND owner, DLGPROC procedure);

// The soundcard properties dialog: 1 after OK, 0 after Cancel.
INT_PTR showSoundcardDialog(HWND owner);
// The disk options dialog; it ends only through "Done".
void showDiskOptionsDialog(HWND owner);

// Lets the user pick the recording directory and stores it as
// "DISK_OUTPUT_DIRECTORY"; stores nothing when the user cancels or the shell
// fails (the user is told about failures).
void browseForOutputDirectory(HWND owner);

// The wizard pages: "WIZARD_FIRST_STARTUP", then "WIZARD_DISCLAIMER" when the
// first page ended with "Next...".
void runWizard(HWND owner);

// Counts the openings of the host dialog in "times"; on the first one stores
// starting latency values and shows the wizard. Called once per opening.
void firstStartCheck(HWND owner);

// Opens the help document beside the host program (documentName such as
// "manual_live.pdf", or its RTF twin) with the system's viewer; asks the user
// which format once and remembers the answer in "OPEN_FORMAT".
void openHelpDocument(HWND owner, const char* documentName);

// The directory of the process's executable without a trailing backslash,
// into directory (kHostDirectoryBytes).
const int kHostDirectoryBytes = 256;
void hostProgramDirectory(char* directory);

// Moves a window to the middle of the screen, keeping its size.
void centreWindow(HWND window);
