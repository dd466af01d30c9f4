// The platform seam: the few platform calls whose outcome a test must be able
// to choose go through this one table of function pointers. It holds the real
// functions by default; a test swaps entries for the length of a scope with
// PlatformOverride and the old entries come back when the scope ends.
//
// Everything else (the rest of the registry, files, COM, graph manager,
// threads, events) is called directly.
//
// Every message the user must see goes through showMessage().
#pragma once

#include <windows.h>
#include <mmsystem.h>
#include <dsound.h>
#include <shlobj.h>

struct PlatformApi {
    // DirectSound and DirectSoundCapture
    HRESULT(WINAPI* directSoundEnumerateA)(LPDSENUMCALLBACKA, LPVOID);
    HRESULT(WINAPI* directSoundCaptureEnumerateA)(LPDSENUMCALLBACKA, LPVOID);
    HRESULT(WINAPI* directSoundCreate)(LPCGUID, LPDIRECTSOUND*, LPUNKNOWN);
    HRESULT(WINAPI* directSoundCaptureCreate)(LPCGUID, LPDIRECTSOUNDCAPTURE*, LPUNKNOWN);

    // waveOut
    UINT(WINAPI* waveOutGetNumDevs)(void);
    MMRESULT(WINAPI* waveOutGetDevCapsA)(UINT_PTR, LPWAVEOUTCAPSA, UINT);
    MMRESULT(WINAPI* waveOutOpen)(LPHWAVEOUT, UINT, LPCWAVEFORMATEX, DWORD_PTR, DWORD_PTR, DWORD);
    MMRESULT(WINAPI* waveOutPrepareHeader)(HWAVEOUT, LPWAVEHDR, UINT);
    MMRESULT(WINAPI* waveOutUnprepareHeader)(HWAVEOUT, LPWAVEHDR, UINT);
    MMRESULT(WINAPI* waveOutWrite)(HWAVEOUT, LPWAVEHDR, UINT);
    MMRESULT(WINAPI* waveOutReset)(HWAVEOUT);
    MMRESULT(WINAPI* waveOutClose)(HWAVEOUT);
    MMRESULT(WINAPI* waveOutGetErrorTextA)(MMRESULT, LPSTR, UINT);

    // waveIn
    UINT(WINAPI* waveInGetNumDevs)(void);
    MMRESULT(WINAPI* waveInGetDevCapsA)(UINT_PTR, LPWAVEINCAPSA, UINT);
    MMRESULT(WINAPI* waveInOpen)(LPHWAVEIN, UINT, LPCWAVEFORMATEX, DWORD_PTR, DWORD_PTR, DWORD);
    MMRESULT(WINAPI* waveInPrepareHeader)(HWAVEIN, LPWAVEHDR, UINT);
    MMRESULT(WINAPI* waveInUnprepareHeader)(HWAVEIN, LPWAVEHDR, UINT);
    MMRESULT(WINAPI* waveInAddBuffer)(HWAVEIN, LPWAVEHDR, UINT);
    MMRESULT(WINAPI* waveInStart)(HWAVEIN);
    MMRESULT(WINAPI* waveInStop)(HWAVEIN);
    MMRESULT(WINAPI* waveInReset)(HWAVEIN);
    MMRESULT(WINAPI* waveInClose)(HWAVEIN);
    MMRESULT(WINAPI* waveInGetErrorTextA)(MMRESULT, LPSTR, UINT);

    // User interface and shell
    int(WINAPI* messageBoxA)(HWND, LPCSTR, LPCSTR, UINT);
    PIDLIST_ABSOLUTE(WINAPI* shBrowseForFolderA)(LPBROWSEINFOA);
    BOOL(WINAPI* shGetPathFromIDListA)(PCIDLIST_ABSOLUTE, LPSTR);
    HINSTANCE(WINAPI* shellExecuteA)(HWND, LPCSTR, LPCSTR, LPCSTR, LPCSTR, INT);
    SHORT(WINAPI* getKeyState)(int);
    SHORT(WINAPI* getAsyncKeyState)(int);

    // Kernel
    DWORD(WINAPI* getModuleFileNameA)(HMODULE, LPSTR, DWORD);
    void(WINAPI* getSystemTimeAsFileTime)(LPFILETIME);
    DWORD(WINAPI* waitForSingleObject)(HANDLE, DWORD);
    HMODULE(WINAPI* loadLibraryA)(LPCSTR);
    HGLOBAL(WINAPI* globalAlloc)(UINT, SIZE_T);

    // Registry: the settings store's writes, so a test sees which values reach
    // the registry and in which order
    LONG(WINAPI* regSetValueExA)(HKEY, LPCSTR, DWORD, DWORD, const BYTE*, DWORD);
};

// The table in force. Product code calls through it; only tests write it,
// through PlatformOverride.
PlatformApi& platform();

// Restores the whole table when it goes out of scope, so a test can replace
// any entries it likes for its own duration.
class PlatformOverride {
public:
    PlatformOverride();
    ~PlatformOverride();
    PlatformOverride(const PlatformOverride&) = delete;
    PlatformOverride& operator=(const PlatformOverride&) = delete;
    PlatformApi& api() { return platform(); }

private:
    PlatformApi saved_;
};

// The module that holds the product's resources: the DLL once its entry has
// recorded itself, otherwise the program (as in test executables).
HINSTANCE moduleInstance();
void setModuleInstance(HINSTANCE instance);

// The one function that shows a message to the user: owner (or none), text,
// caption and the MB_ icon/button flags. Returns the button pressed.
int showMessage(HWND owner, const char* text, const char* caption, UINT flags);

// A program without a window (a console mode run by a script) has nobody to
// press a box's button: it hands its messages to a sink instead, which prints
// them, and showMessage gives the answer that changes nothing (Cancel, Abort
// or No; OK on a plain message).
// Null sets the boxes back.
typedef void (*MessageSink)(const char* text, const char* caption);
void setMessageSink(MessageSink sink);
