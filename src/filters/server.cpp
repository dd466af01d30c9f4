// The COM server: the factory table, the class factory, the four exports and
// the registration of both filters (registry keys and filter mapper).
#include <olectl.h>

#include <new>

#include "filters/filters.h"
#include "platform/platform.h"
#include "tracelog/trace.h"

// {6A1C6D21-3F0B-4E4B-9C5A-2B7E8D10A4C1}
const CLSID CLSID_HarnwickReader = {0x6a1c6d21, 0x3f0b, 0x4e4b, {0x9c, 0x5a, 0x2b, 0x7e, 0x8d, 0x10, 0xa4, 0xc1}};
// {6A1C6D22-3F0B-4E4B-9C5A-2B7E8D10A4C1}
const CLSID CLSID_HarnwickDump = {0x6a1c6d22, 0x3f0b, 0x4e4b, {0x9c, 0x5a, 0x2b, 0x7e, 0x8d, 0x10, 0xa4, 0xc1}};

IGraphBuilder* pGraphBuilder = nullptr;
IBaseFilter* pReader = nullptr;
IBaseFilter* pWriter = nullptr;
IBaseFilter* pPlugin = nullptr;
IPin* pReaderPin = nullptr;
IPin* pWriterPin = nullptr;
IPin* pInPin = nullptr;
IPin* pOutPin = nullptr;
IMediaControl* pMC = nullptr;
IMediaEvent* pME = nullptr;

namespace {

const FactoryEntry kFactoryTable[] = {
    {L"Harnwick reader", &CLSID_HarnwickReader, SynthFilter::create, nullptr, &readerSetup()},
    {L"Dump", &CLSID_HarnwickDump, Dump::create, nullptr, &dumpSetup()},
};
const int kFactoryCount = sizeof(kFactoryTable) / sizeof(kFactoryTable[0]);

class ClassFactory final : public IClassFactory {
public:
    explicit ClassFactory(const FactoryEntry& entry) : entry_(entry) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        if (iid == IID_IUnknown || iid == IID_IClassFactory) return returnInterface(this, out);
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
    ULONG STDMETHODCALLTYPE Release() override {
        LONG left = --refs_;
        if (left == 0) delete this;
        return static_cast<ULONG>(left);
    }

    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        // An aggregated object can only hand out its non-delegating IUnknown.
        if (outer && iid != IID_IUnknown) return E_NOINTERFACE;
        HRESULT result = S_OK;
        ComObject* object = entry_.create(outer, &result);
        if (!object) return FAILED(result) ? result : E_OUTOFMEMORY;
        if (FAILED(result)) {
            delete object;
            return result;
        }
        object->NonDelegatingAddRef();
        HRESULT hr = object->NonDelegatingQueryInterface(iid, out);
        object->NonDelegatingRelease();
        return hr;
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
        lockServer(lock != FALSE);
        return S_OK;
    }

private:
    const FactoryEntry& entry_;
    std::atomic<LONG> refs_{0};
};

HRESULT fromWin32(LONG code) { return HRESULT_FROM_WIN32(static_cast<unsigned long>(code)); }

// "CLSID\{...}" for a class id.
void classKeyName(const CLSID& clsid, WCHAR (&key)[64]) {
    WCHAR text[40];
    StringFromGUID2(clsid, text, 40);
    lstrcpyW(key, L"CLSID\\");
    lstrcatW(key, text);
}

HRESULT setDefaultAndValue(HKEY key, const WCHAR* defaultText, const WCHAR* valueName, const WCHAR* valueText) {
    LONG rc = RegSetValueExW(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(defaultText),
                             (lstrlenW(defaultText) + 1) * sizeof(WCHAR));
    if (rc == ERROR_SUCCESS && valueName) {
        rc = RegSetValueExW(key, valueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(valueText),
                            (lstrlenW(valueText) + 1) * sizeof(WCHAR));
    }
    return rc == ERROR_SUCCESS ? S_OK : fromWin32(rc);
}

// HKCR\CLSID\{id} = name; \InprocServer32 = path, ThreadingModel = Both.
HRESULT writeServerKeys(const FactoryEntry& entry, const WCHAR* modulePath) {
    WCHAR keyName[64];
    classKeyName(*entry.clsid, keyName);
    HKEY classKey = nullptr;
    LONG rc = RegCreateKeyExW(HKEY_CLASSES_ROOT, keyName, 0, nullptr, 0, KEY_WRITE, nullptr, &classKey, nullptr);
    if (rc != ERROR_SUCCESS) return fromWin32(rc);
    HRESULT hr = setDefaultAndValue(classKey, entry.name, nullptr, nullptr);
    HKEY serverKey = nullptr;
    if (SUCCEEDED(hr)) {
        rc = RegCreateKeyExW(classKey, L"InprocServer32", 0, nullptr, 0, KEY_WRITE, nullptr, &serverKey, nullptr);
        hr = rc == ERROR_SUCCESS ? S_OK : fromWin32(rc);
    }
    if (SUCCEEDED(hr)) {
        hr = setDefaultAndValue(serverKey, modulePath, L"ThreadingModel", L"Both");
        RegCloseKey(serverKey);
    }
    RegCloseKey(classKey);
    return hr;
}

// Deletes a key with everything below it.
LONG deleteTree(HKEY parent, const WCHAR* name) {
    HKEY key = nullptr;
    LONG rc = RegOpenKeyExW(parent, name, 0, KEY_READ | KEY_WRITE, &key);
    if (rc != ERROR_SUCCESS) return rc;
    WCHAR child[256];
    for (;;) {
        DWORD length = 256;
        // Always the first subkey: the one before was just deleted.
        if (RegEnumKeyExW(key, 0, child, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        if (deleteTree(key, child) != ERROR_SUCCESS) break;
    }
    RegCloseKey(key);
    return RegDeleteKeyW(parent, name);
}

// The filter mapper: the newer interface when there is one, else the older.
struct Mapper {
    IFilterMapper2* mapper2 = nullptr;
    IFilterMapper* mapper1 = nullptr;
    ~Mapper() {
        if (mapper2) mapper2->Release();
        if (mapper1) mapper1->Release();
    }
};

HRESULT createMapper(Mapper& m) {
    HRESULT hr = CoCreateInstance(CLSID_FilterMapper2, nullptr, CLSCTX_INPROC_SERVER, IID_IFilterMapper2,
                                  reinterpret_cast<void**>(&m.mapper2));
    if (SUCCEEDED(hr)) return hr;
    return CoCreateInstance(CLSID_FilterMapper, nullptr, CLSCTX_INPROC_SERVER, IID_IFilterMapper,
                            reinterpret_cast<void**>(&m.mapper1));
}

HRESULT mapWithMapper2(IFilterMapper2* mapper, const FilterSetup& setup, bool registering) {
    HRESULT hr = mapper->UnregisterFilter(nullptr, nullptr, *setup.clsid);
    if (registering) {
        REGFILTER2 record = {};
        record.dwVersion = 1;
        record.dwMerit = setup.merit;
        record.cPins = setup.pinCount;
        record.rgPins = setup.pins;
        hr = mapper->RegisterFilter(*setup.clsid, setup.name, nullptr, nullptr, nullptr, &record);
    }
    // Unregistering what was never registered is not a failure.
    return hr == HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND) ? S_OK : hr;
}

HRESULT mapWithMapper1(IFilterMapper* mapper, const FilterSetup& setup, bool registering) {
    HRESULT hr = mapper->UnregisterFilter(*setup.clsid);
    if (!registering) return hr == HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND) ? S_OK : hr;
    hr = mapper->RegisterFilter(*setup.clsid, setup.name, setup.merit);
    for (UINT i = 0; SUCCEEDED(hr) && i < setup.pinCount; ++i) {
        const REGFILTERPINS& pin = setup.pins[i];
        hr = mapper->RegisterPin(*setup.clsid, pin.strName, pin.bRendered, pin.bOutput, pin.bZero, pin.bMany,
                                 *pin.clsConnectsToFilter, pin.strConnectsToPin);
        for (UINT t = 0; SUCCEEDED(hr) && t < pin.nMediaTypes; ++t) {
            hr = mapper->RegisterPinType(*setup.clsid, pin.strName, *pin.lpMediaType[t].clsMajorType,
                                         *pin.lpMediaType[t].clsMinorType);
        }
    }
    return hr;
}

HRESULT mapFilters(bool registering) {
    HRESULT hr = CoInitialize(nullptr);
    bool initialised = SUCCEEDED(hr);
    {
        Mapper mapper;
        hr = createMapper(mapper);
        if (SUCCEEDED(hr)) {
            for (int i = 0; i < kFactoryCount && SUCCEEDED(hr); ++i) {
                const FilterSetup* setup = kFactoryTable[i].setup;
                if (!setup) continue;
                hr = mapper.mapper2 ? mapWithMapper2(mapper.mapper2, *setup, registering)
                                    : mapWithMapper1(mapper.mapper1, *setup, registering);
            }
        }
    }
    CoFreeUnusedLibraries();
    if (initialised) CoUninitialize();
    return hr;
}

}  // namespace

const FactoryEntry* factoryTable() { return kFactoryTable; }
int factoryCount() { return kFactoryCount; }

HRESULT registerServer(bool registering) {
    WCHAR path[MAX_PATH];
    DWORD length = GetModuleFileNameW(moduleInstance(), path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        DWORD error = length == 0 ? GetLastError() : ERROR_INSUFFICIENT_BUFFER;
        return HRESULT_FROM_WIN32(error);
    }
    if (registering) {
        for (int i = 0; i < kFactoryCount; ++i) {
            HRESULT hr = writeServerKeys(kFactoryTable[i], path);
            if (FAILED(hr)) {
                TRACE(TRACE_ERROR, "Could not write the COM server keys: 0x%08lx", static_cast<unsigned long>(hr));
                return hr;
            }
        }
    }
    HRESULT hr = mapFilters(registering);
    if (FAILED(hr)) {
        TRACE(TRACE_ERROR, "Filter mapper registration failed: 0x%08lx", static_cast<unsigned long>(hr));
        return hr;
    }
    if (!registering) {
        for (int i = 0; i < kFactoryCount; ++i) {
            WCHAR keyName[64];
            classKeyName(*kFactoryTable[i].clsid, keyName);
            deleteTree(HKEY_CLASSES_ROOT, keyName);
        }
    }
    return S_OK;
}

void moduleAttach(HINSTANCE instance) {
    setModuleInstance(instance);
    for (int i = 0; i < kFactoryCount; ++i) {
        if (kFactoryTable[i].init) kFactoryTable[i].init(TRUE);
    }
}

void moduleDetach() {
    for (int i = 0; i < kFactoryCount; ++i) {
        if (kFactoryTable[i].init) kFactoryTable[i].init(FALSE);
    }
}

extern "C" {

HRESULT WINAPI DllRegisterServer() { return registerServer(true); }

HRESULT WINAPI DllUnregisterServer() { return registerServer(false); }

HRESULT WINAPI DllGetClassObject(REFCLSID clsid, REFIID iid, void** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (iid != IID_IUnknown && iid != IID_IClassFactory) return E_NOINTERFACE;
    for (int i = 0; i < kFactoryCount; ++i) {
        if (*kFactoryTable[i].clsid != clsid) continue;
        auto* factory = new (std::nothrow) ClassFactory(kFactoryTable[i]);
        if (!factory) return E_OUTOFMEMORY;
        return returnInterface(factory, out);
    }
    return CLASS_E_CLASSNOTAVAILABLE;
}

HRESULT WINAPI DllCanUnloadNow() { return serverLockCount() > 0 || liveObjectCount() > 0 ? S_FALSE : S_OK; }

}  // extern "C"
