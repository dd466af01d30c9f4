// The host program's steps, kept apart from WinMain so tests can run each:
// register the plug-in that lies beside the program when its class is not
// registered yet, then load HarnwickLive.dll beside it and run its entry.
// Every failure the user must know about is shown in a "Harnwick Live" box.
#pragma once

#include <string>

// File names expected in the program's folder.
extern const char kLiveDllName[];    // "HarnwickLive.dll"
extern const char kPluginDllName[];  // "HarnwickAmp.dll"

// Registers <folder>\HarnwickAmp.dll when the plug-in's class has no
// in-process server entry, or one whose DLL no longer exists. True when the
// class is registered afterwards (a working registration is left as it is).
// When machine-wide registration is refused (a standard user), the plug-in
// and HarnwickLive.dll beside it are registered for the current user.
// A failure is told through tell: the "Harnwick Live" box by default; a
// console program passes its own.
typedef void (*TellUserFn)(const char* text);
void showHostError(const char* text);
bool ensurePluginRegistered(const std::string& folder, TellUserFn tell = showHostError);

// Loads <folder>\HarnwickLive.dll and calls MainEntryPoint(0). False when
// the DLL or its entry cannot be found.
bool runLiveEntry(const std::string& folder);

// The whole program: COM as a single-threaded apartment around the two steps
// above. Returns the process exit code (0 when the entry ran).
int hostMain();
