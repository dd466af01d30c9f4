// The entry: one call runs a whole hosting period (register the filters,
// build reader -> plug-in -> dump, restore the plug-in's state, show the host
// dialog, store the state, take the graph apart). Also the graph builder's
// operations and the plug-in setting file, offered for tests.
//
// The ten graph pointers (declared with the filters, which read pWriterPin
// while connecting) are set and released only here; each holds one reference
// for the hosting period.
#pragma once

#include <windows.h>
#include <dshow.h>

#include "filters/filters.h"

extern "C" int WINAPI MainEntryPoint(int unused);

// Graph builder: 1 success, 0 failure (each traces what went wrong).
int createFilters();
int createGraph();
int createSynth();
int createDump();
int createPlugin();
int getFirstPinFromIBaseFilter(IBaseFilter* filter, IPin** pin);
int getPinsFromIBaseFilter(IBaseFilter* filter, IPin** input, IPin** output);
int createMC_ME();
int connectFilterToGraph();
int disconnectFilterFromGraph();
int releaseFiltersAndMC();
void releaseInterfaces();
HRESULT internalQuillmarkCoCreateInstance(REFCLSID classId, REFIID interfaceId, void** object, const char* name);

// Releases *slot's reference; nulls the slot when the object's count reached 0.
// Returns 1 when the slot was null or the count reached 0.
template <typename T>
int destroyInterface(T*& slot, const char* name);
int destroyUnknown(IUnknown* object, void** slot, const char* name);
template <typename T>
int destroyInterface(T*& slot, const char* name) {
    return destroyUnknown(slot, reinterpret_cast<void**>(&slot), name);
}

// The media type every connect uses, from "srate" and "channels". The format
// block belongs to the caller (freeConnectionType).
void buildConnectionType(AM_MEDIA_TYPE& type, WAVEFORMATEX& format);

// Plug-in setting file "Default Live setting" beside the host executable.
int saveDefaultSetting(IBaseFilter* plugin);
int loadDefaultSetting(IBaseFilter* plugin);

// For programs that tell the user what became of a setting file: its path
// beside the running program (0 when that does not fit 256 characters), and
// loading any setting file into the plug-in with the reason it was not used.
enum SettingFileResult {
    SETTING_LOADED,
    SETTING_MISSING,     // no such file
    SETTING_UNREADABLE,  // cannot be opened or read
    SETTING_FOREIGN,     // not "HwLv"
    SETTING_OTHER_SIZE,  // written by a plug-in with another persisted size
    SETTING_REFUSED,     // no IPersistStream, or its Load failed
};
int defaultSettingPath(char* path);
SettingFileResult loadSettingFile(IBaseFilter* plugin, const char* path);

// A COM error raised as a C++ exception by code we call; shown, never rethrown.
struct ComError {
    HRESULT hr;
    IErrorInfo* info;  // may be null; released by showComError
};
void showComError(const ComError& error, const char* action);
