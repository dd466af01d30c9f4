// The COM server: class objects, the class factory, the unload answer and
// the registration in the registry and the filter mapper.
#include <atomic>
#include <string>

#include "filters/filters.h"
#include "support/testenv.h"

namespace {

// The class key of a filter, or (mapper) its instance key in the filter
// mapper's default (legacy) category.
std::wstring filterKey(const CLSID& clsid, bool mapper) {
    WCHAR id[40];
    StringFromGUID2(clsid, id, 40);
    return std::wstring(mapper ? L"CLSID\\{083863F1-70DE-11d0-BD40-00A0C911CE86}\\Instance\\" : L"CLSID\\") + id;
}

// A text value under HKEY_CLASSES_ROOT, or "<none>".
std::wstring textValue(const std::wstring& keyName, const WCHAR* valueName) {
    WCHAR text[MAX_PATH] = {};
    DWORD bytes = sizeof(text) - sizeof(WCHAR);
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, keyName.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return L"<none>";
    LONG rc = RegQueryValueExW(key, valueName, nullptr, nullptr, reinterpret_cast<BYTE*>(text), &bytes);
    RegCloseKey(key);
    return rc == ERROR_SUCCESS ? std::wstring(text) : L"<none>";
}

// An outer object that counts the references its inner object forwards to it.
class Outer : public IUnknown {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (iid == IID_IUnknown) {
            *out = this;
            AddRef();
            return S_OK;
        }
        return inner ? inner->QueryInterface(iid, out) : E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
    ULONG STDMETHODCALLTYPE Release() override { return --refs; }
    std::atomic<LONG> refs{1};
    IUnknown* inner = nullptr;
};

class ServerTest : public HarnwickTest {
protected:
    void SetUp() override {
        HarnwickTest::SetUp();
        ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
        ASSERT_EQ(0, liveObjectCount());
    }
    void TearDown() override {
        CoUninitialize();
        HarnwickTest::TearDown();
    }
    IClassFactory* factoryFor(REFCLSID clsid) {
        IClassFactory* factory = nullptr;
        EXPECT_EQ(S_OK, DllGetClassObject(clsid, IID_IClassFactory, reinterpret_cast<void**>(&factory)));
        return factory;
    }
};

}  // namespace

TEST_F(ServerTest, ClassObjectsAreGivenForOurTwoFiltersOnly) {
    IClassFactory* factory = factoryFor(CLSID_HarnwickDump);
    ASSERT_NE(nullptr, factory);
    EXPECT_EQ(0u, factory->Release());

    IUnknown* unknown = nullptr;
    ASSERT_EQ(S_OK, DllGetClassObject(CLSID_HarnwickReader, IID_IUnknown, reinterpret_cast<void**>(&unknown)));
    unknown->Release();

    void* out = reinterpret_cast<void*>(1);
    EXPECT_EQ(CLASS_E_CLASSNOTAVAILABLE, DllGetClassObject(CLSID_FilterGraph, IID_IClassFactory, &out));
    EXPECT_EQ(nullptr, out);
    EXPECT_EQ(E_NOINTERFACE, DllGetClassObject(CLSID_HarnwickDump, IID_IDispatch, &out));
    EXPECT_EQ(E_POINTER, DllGetClassObject(CLSID_HarnwickDump, IID_IClassFactory, nullptr));
}

TEST_F(ServerTest, FactoryCreatesFiltersAndRefusesAnAggregatedFilterInterface) {
    IClassFactory* factory = factoryFor(CLSID_HarnwickDump);
    ASSERT_NE(nullptr, factory);
    void* out = nullptr;
    EXPECT_EQ(E_NOINTERFACE, factory->QueryInterface(IID_IDispatch, &out));
    EXPECT_EQ(E_POINTER, factory->QueryInterface(IID_IUnknown, nullptr));
    EXPECT_EQ(E_POINTER, factory->CreateInstance(nullptr, IID_IBaseFilter, nullptr));

    Outer outer;
    EXPECT_EQ(E_NOINTERFACE, factory->CreateInstance(&outer, IID_IBaseFilter, &out));
    EXPECT_EQ(nullptr, out);
    EXPECT_EQ(0, liveObjectCount());

    // Aggregated: the inner object's interfaces count on the outer object.
    ASSERT_EQ(S_OK, factory->CreateInstance(&outer, IID_IUnknown, reinterpret_cast<void**>(&outer.inner)));
    IBaseFilter* filter = nullptr;
    ASSERT_EQ(S_OK, outer.inner->QueryInterface(IID_IBaseFilter, reinterpret_cast<void**>(&filter)));
    EXPECT_EQ(2, outer.refs);
    IUnknown* identity = nullptr;
    filter->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity));
    EXPECT_EQ(static_cast<IUnknown*>(&outer), identity);
    identity->Release();
    filter->Release();
    EXPECT_EQ(1, outer.refs);
    EXPECT_EQ(0u, outer.inner->Release());
    EXPECT_EQ(0, liveObjectCount());
    factory->Release();
}

TEST_F(ServerTest, CanUnloadFollowsLiveObjectsAndServerLocks) {
    EXPECT_EQ(S_OK, DllCanUnloadNow());
    IClassFactory* factory = factoryFor(CLSID_HarnwickReader);
    ASSERT_NE(nullptr, factory);
    IBaseFilter* filter = nullptr;
    ASSERT_EQ(S_OK, factory->CreateInstance(nullptr, IID_IBaseFilter, reinterpret_cast<void**>(&filter)));
    EXPECT_EQ(S_FALSE, DllCanUnloadNow());
    IPin* pin = nullptr;
    ASSERT_EQ(S_OK, filter->FindPin(L"1", &pin));
    // The pin counts on its filter: the filter lives until both are released.
    EXPECT_NE(0u, filter->Release());
    EXPECT_EQ(S_FALSE, DllCanUnloadNow());
    EXPECT_EQ(0u, pin->Release());
    EXPECT_EQ(S_OK, DllCanUnloadNow());

    ASSERT_EQ(S_OK, factory->LockServer(TRUE));
    EXPECT_EQ(S_FALSE, DllCanUnloadNow());
    ASSERT_EQ(S_OK, factory->LockServer(FALSE));
    EXPECT_EQ(S_OK, DllCanUnloadNow());
    EXPECT_EQ(0u, factory->Release());
}

TEST_F(ServerTest, RegisteringIsRepeatableAndUnregisteringRemovesTheKeys) {
    WCHAR path[MAX_PATH];
    GetModuleFileNameW(moduleInstance(), path, MAX_PATH);
    ASSERT_EQ(S_OK, DllRegisterServer());
    ASSERT_EQ(S_OK, DllRegisterServer());

    struct Expected {
        const CLSID* clsid;
        const WCHAR* name;
        const WCHAR* mapperName;
    } filters[] = {{&CLSID_HarnwickReader, L"Harnwick reader", L"Harnwick Live synt"},
                   {&CLSID_HarnwickDump, L"Dump", L"Harnwick Live dump"}};
    for (const Expected& f : filters) {
        const std::wstring key = filterKey(*f.clsid, false);
        EXPECT_EQ(f.name, textValue(key, nullptr));
        EXPECT_EQ(path, textValue(key + L"\\InprocServer32", nullptr));
        EXPECT_EQ(L"Both", textValue(key + L"\\InprocServer32", L"ThreadingModel"));
        EXPECT_EQ(f.mapperName, textValue(filterKey(*f.clsid, true), L"FriendlyName"));
    }

    ASSERT_EQ(S_OK, DllUnregisterServer());
    for (const Expected& f : filters) {
        EXPECT_EQ(L"<none>", textValue(filterKey(*f.clsid, false), nullptr));
        EXPECT_EQ(L"<none>", textValue(filterKey(*f.clsid, true), L"FriendlyName"));
    }
    // Unregistering what is not registered is no failure.
    EXPECT_EQ(S_OK, DllUnregisterServer());
}
