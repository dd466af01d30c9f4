// The plug-in's COM server face: DLL entry, class factory, the four exports
// and the registry entries for the filter and its page.
#include <cstdio>
#include <cstring>
#include <new>

#include "ampmodule.h"
#include "filters/framework.h"

namespace {

HINSTANCE g_instance = nullptr;
LONG g_objects = 0;
LONG g_locks = 0;

struct ServerClass {
    const GUID* clsid;
    const char* name;
    IUnknown* (*create)();
};

const ServerClass kClasses[] = {
    {&CLSID_HarnwickAmp, "Harnwick Amp", createAmpFilter},
    {&CLSID_HarnwickAmpPage, "Harnwick Amp page", createAmpPage},
};

class AmpClassFactory final : public AmpComObject<IClassFactory> {
public:
    explicit AmpClassFactory(const ServerClass& cls) : AmpComObject(IID_IClassFactory), class_(cls) {}
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (outer) return CLASS_E_NOAGGREGATION;
        IUnknown* object = class_.create();
        if (!object) return E_OUTOFMEMORY;
        HRESULT hr = object->QueryInterface(iid, out);
        object->Release();  // the creator's reference; the answer keeps its own
        return hr;
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
        if (lock)
            InterlockedIncrement(&g_locks);
        else
            InterlockedDecrement(&g_locks);
        return S_OK;
    }

private:
    const ServerClass& class_;
};

HRESULT registryResult(LONG err) { return err == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(err); }

// "CLSID\{...}" for a class id.
void classKeyName(const GUID& clsid, char* name, size_t nameBytes) {
    WCHAR wide[40];
    StringFromGUID2(clsid, wide, 40);
    char text[40];
    WideCharToMultiByte(CP_ACP, 0, wide, -1, text, sizeof text, nullptr, nullptr);
    snprintf(name, nameBytes, "CLSID\\%s", text);
}

HRESULT setKeyValue(HKEY root, const char* subkey, const char* valueName, const char* value) {
    HKEY key;
    LONG err = RegCreateKeyExA(root, subkey, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE, nullptr, &key, nullptr);
    if (err != ERROR_SUCCESS) return registryResult(err);
    err = RegSetValueExA(key, valueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(value), DWORD(strlen(value) + 1));
    RegCloseKey(key);
    return registryResult(err);
}

HRESULT registerClass(const ServerClass& cls, const char* path) {
    char key[64], inproc[96];
    classKeyName(*cls.clsid, key, sizeof key);
    snprintf(inproc, sizeof inproc, "%s\\InprocServer32", key);
    HRESULT hr = setKeyValue(HKEY_CLASSES_ROOT, key, nullptr, cls.name);
    if (SUCCEEDED(hr)) hr = setKeyValue(HKEY_CLASSES_ROOT, inproc, nullptr, path);
    if (SUCCEEDED(hr)) hr = setKeyValue(HKEY_CLASSES_ROOT, inproc, "ThreadingModel", "Both");
    return hr;
}

HRESULT unregisterClass(const ServerClass& cls) {
    char key[64], inproc[96];
    classKeyName(*cls.clsid, key, sizeof key);
    snprintf(inproc, sizeof inproc, "%s\\InprocServer32", key);
    RegDeleteKeyA(HKEY_CLASSES_ROOT, inproc);
    LONG err = RegDeleteKeyA(HKEY_CLASSES_ROOT, key);
    return err == ERROR_FILE_NOT_FOUND ? S_OK : registryResult(err);
}

}  // namespace

HINSTANCE ampModuleInstance() { return g_instance; }
void ampObjectCreated() { InterlockedIncrement(&g_objects); }
void ampObjectDestroyed() { InterlockedDecrement(&g_objects); }

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, void* reserved) {
    if (reason == DLL_PROCESS_ATTACH) {
        g_instance = instance;
        DisableThreadLibraryCalls(instance);
    } else if (reason == DLL_PROCESS_DETACH && !reserved) {
        ampPageModuleDetach();  // unloaded while the process goes on: no stale window procedure
    }
    return TRUE;
}

STDAPI DllGetClassObject(REFCLSID clsid, REFIID iid, void** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (iid != IID_IUnknown && iid != IID_IClassFactory) return E_NOINTERFACE;
    for (const ServerClass& cls : kClasses) {
        if (clsid != *cls.clsid) continue;
        AmpClassFactory* factory = new (std::nothrow) AmpClassFactory(cls);
        if (!factory) return E_OUTOFMEMORY;
        *out = static_cast<IClassFactory*>(factory);
        return S_OK;
    }
    return CLASS_E_CLASSNOTAVAILABLE;
}

STDAPI DllCanUnloadNow() { return (g_objects > 0 || g_locks > 0 || liveObjectCount() > 0) ? S_FALSE : S_OK; }

STDAPI DllRegisterServer() {
    char path[MAX_PATH];
    DWORD n = GetModuleFileNameA(g_instance, path, sizeof path);
    if (n == 0 || n >= sizeof path) return HRESULT_FROM_WIN32(GetLastError());
    for (const ServerClass& cls : kClasses) {
        HRESULT hr = registerClass(cls, path);
        if (FAILED(hr)) return hr;
    }
    return S_OK;
}

STDAPI DllUnregisterServer() {
    HRESULT result = S_OK;
    for (const ServerClass& cls : kClasses) {
        HRESULT hr = unregisterClass(cls);
        if (FAILED(hr) && SUCCEEDED(result)) result = hr;
    }
    return result;
}
