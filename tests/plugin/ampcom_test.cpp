// The plug-in DLL through COM: registration, pins, persisted state, the
// direct interface by its method-table position, and each faulty variant.
#include <cmath>
#include <cstring>

#include "ampdsp.h"
#include "amptest.h"
#include "registration.h"

namespace {

// {E8611201-637A-4F77-A7F8-35AD1274F774}, the page's class as the DLL registers it.
const GUID kPageClass = {0xe8611201, 0x637a, 0x4f77, {0xa7, 0xf8, 0x35, 0xad, 0x12, 0x74, 0xf7, 0x74}};

std::string registryText(const char* key, const char* value) {
    HKEY k;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, key, 0, KEY_READ, &k) != ERROR_SUCCESS) return "<no key>";
    char text[MAX_PATH] = {};
    DWORD bytes = sizeof text - 1;
    LONG err = RegQueryValueExA(k, value, nullptr, nullptr, reinterpret_cast<BYTE*>(text), &bytes);
    RegCloseKey(k);
    return err == ERROR_SUCCESS ? text : "<no value>";
}

std::vector<float> guitarLike(int frames, int channels) {
    std::vector<float> v(size_t(frames) * channels);
    for (int f = 0; f < frames; ++f)
        for (int c = 0; c < channels; ++c)
            v[size_t(f) * channels + c] = float(0.4 * std::sin(2 * 3.14159265 * 110 * f / 44100) * std::exp(-f / 20000.0) +
                                                0.1 * std::sin(2 * 3.14159265 * 1320 * f / 44100 + c));
    return v;
}

}  // namespace

TEST_F(AmpComTest, RegistersBothClassesAndUnregistersThem) {
    std::string path = pluginPath(kAmpPlugin);
    EXPECT_EQ(path, registeredServerPath(CLSID_HarnwickAmp));
    EXPECT_EQ(path, registeredServerPath(kPageClass));
    EXPECT_EQ("Both", registryText("CLSID\\{8C5FA956-AA2A-4623-8BDC-E495166C892E}\\InprocServer32", "ThreadingModel"));

    ASSERT_EQ(S_OK, callServerRegistration(path.c_str(), false));
    EXPECT_FALSE(isClassRegistered(CLSID_HarnwickAmp));
    EXPECT_FALSE(isClassRegistered(kPageClass));
    EXPECT_EQ("<no key>", registryText("CLSID\\{8C5FA956-AA2A-4623-8BDC-E495166C892E}", nullptr));
    IBaseFilter* filter = nullptr;
    EXPECT_EQ(REGDB_E_CLASSNOTREG, CoCreateInstance(CLSID_HarnwickAmp, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                                                    reinterpret_cast<void**>(&filter)));
    EXPECT_EQ(S_OK, callServerRegistration(path.c_str(), false));  // twice is harmless

    ASSERT_EQ(S_OK, callServerRegistration(path.c_str(), true));
    filter = createAmp();
    ASSERT_NE(nullptr, filter);
    CLSID clsid = {};
    EXPECT_EQ(S_OK, filter->GetClassID(&clsid));
    EXPECT_EQ(CLSID_HarnwickAmp, clsid);
    filter->Release();
}

TEST_F(AmpComTest, ServerRefusesWhatItDoesNotServeAndUnloadsOnlyWhenIdle) {
    HMODULE dll = LoadLibraryA(pluginPath(kAmpPlugin).c_str());
    ASSERT_NE(nullptr, dll);
    auto getClass = reinterpret_cast<HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**)>(
        reinterpret_cast<void*>(GetProcAddress(dll, "DllGetClassObject")));
    auto canUnload = reinterpret_cast<HRESULT(STDAPICALLTYPE*)()>(reinterpret_cast<void*>(GetProcAddress(dll, "DllCanUnloadNow")));
    ASSERT_TRUE(getClass && canUnload);

    void* out = reinterpret_cast<void*>(1);
    EXPECT_EQ(CLASS_E_CLASSNOTAVAILABLE, getClass(IID_IUnknown, IID_IClassFactory, &out));
    EXPECT_EQ(nullptr, out);
    EXPECT_EQ(E_NOINTERFACE, getClass(CLSID_HarnwickAmp, IID_IBaseFilter, &out));
    EXPECT_EQ(S_OK, canUnload());

    IClassFactory* factory = nullptr;
    ASSERT_EQ(S_OK, getClass(CLSID_HarnwickAmp, IID_IClassFactory, reinterpret_cast<void**>(&factory)));
    IUnknown* outer = reinterpret_cast<IUnknown*>(factory);  // any non-null outer object
    EXPECT_EQ(CLASS_E_NOAGGREGATION, factory->CreateInstance(outer, IID_IUnknown, &out));
    IBaseFilter* filter = nullptr;
    ASSERT_EQ(S_OK, factory->CreateInstance(nullptr, IID_IBaseFilter, reinterpret_cast<void**>(&filter)));
    factory->Release();
    EXPECT_EQ(S_FALSE, canUnload());
    EXPECT_EQ(0u, filter->Release());
    EXPECT_EQ(S_OK, canUnload());
    FreeLibrary(dll);
}

TEST_F(AmpComTest, PersistedStateRoundTripsThroughAStreamOfItsFixedSize) {
    IBaseFilter* a = createAmp();
    IBaseFilter* b = createAmp();
    ASSERT_TRUE(a && b);
    IHarnwickAmpDirect* direct = nullptr;
    ASSERT_EQ(S_OK, a->QueryInterface(IID_IHarnwickAmpDirect, reinterpret_cast<void**>(&direct)));
    IPersistStream* persistA = nullptr;
    IPersistStream* persistB = nullptr;
    ASSERT_EQ(S_OK, a->QueryInterface(IID_IPersistStream, reinterpret_cast<void**>(&persistA)));
    ASSERT_EQ(S_OK, b->QueryInterface(IID_IPersistStream, reinterpret_cast<void**>(&persistB)));

    EXPECT_EQ(64u, persistedSize(a));
    EXPECT_EQ(S_FALSE, persistA->IsDirty());
    EXPECT_EQ(S_OK, direct->setParameter(AMP_DRIVE, 8.5f));
    EXPECT_EQ(S_OK, direct->setParameter(AMP_MIDDLE, -4.0f));
    EXPECT_EQ(E_INVALIDARG, direct->setParameter(AMP_PARAMETER_COUNT, 1.0f));
    EXPECT_EQ(S_OK, persistA->IsDirty());

    IStream* stream = nullptr;
    ASSERT_EQ(S_OK, CreateStreamOnHGlobal(nullptr, TRUE, &stream));
    ASSERT_EQ(S_OK, persistA->Save(stream, TRUE));
    EXPECT_EQ(S_FALSE, persistA->IsDirty());
    std::vector<unsigned char> bytes = streamBytes(stream);
    ASSERT_EQ(64u, bytes.size());
    EXPECT_EQ(0, memcmp(bytes.data(), "HAmp", 4));

    LARGE_INTEGER zero = {};
    stream->Seek(zero, STREAM_SEEK_SET, nullptr);
    ASSERT_EQ(S_OK, persistB->Load(stream));
    EXPECT_EQ(parametersOf(a), parametersOf(b));
    EXPECT_EQ(8.5f, parametersOf(b)[AMP_DRIVE]);

    // A foreign block is refused and leaves the object as it was.
    std::vector<float> before = parametersOf(b);
    IStream* foreign = nullptr;
    ASSERT_EQ(S_OK, CreateStreamOnHGlobal(nullptr, TRUE, &foreign));
    std::vector<unsigned char> junk(64, 0x5A);
    foreign->Write(junk.data(), 64, nullptr);
    foreign->Seek(zero, STREAM_SEEK_SET, nullptr);
    EXPECT_TRUE(FAILED(persistB->Load(foreign)));
    // So is a block cut short.
    IStream* shortStream = nullptr;
    ASSERT_EQ(S_OK, CreateStreamOnHGlobal(nullptr, TRUE, &shortStream));
    shortStream->Write(bytes.data(), 40, nullptr);
    shortStream->Seek(zero, STREAM_SEEK_SET, nullptr);
    direct->setParameter(AMP_DRIVE, 1.0f);
    EXPECT_TRUE(FAILED(persistB->Load(shortStream)));
    EXPECT_EQ(before, parametersOf(b));

    shortStream->Release();
    foreign->Release();
    stream->Release();
    persistB->Release();
    persistA->Release();
    direct->Release();
    b->Release();
    a->Release();
}

TEST_F(AmpComTest, DirectProcessingIsTheNinthMethodTableEntry) {
    IBaseFilter* filter = createAmp();
    ASSERT_NE(nullptr, filter);
    IUnknown* direct = nullptr;
    ASSERT_EQ(S_OK, filter->QueryInterface(IID_IHarnwickAmpDirect, reinterpret_cast<void**>(&direct)));
    typedef HRESULT(STDMETHODCALLTYPE * ProcessBuffer)(IUnknown*, float*, int, int);
    void** table = *reinterpret_cast<void***>(direct);
    auto processBuffer = reinterpret_cast<ProcessBuffer>(table[8]);

    for (int channels : {1, 2}) {
        std::vector<float> buffer = guitarLike(4096, channels);
        std::vector<float> expected = buffer;
        AmpDsp reference;  // the same sound at the same defaults and rate
        reference.process(expected.data(), 4096, channels);
        static_cast<IHarnwickAmpDirect*>(direct)->resetState();
        EXPECT_EQ(S_OK, processBuffer(direct, buffer.data(), 4096, channels));
        EXPECT_EQ(expected, buffer);
    }

    // A parameter set through the interface changes what the ninth entry produces.
    std::vector<float> quiet = guitarLike(4096, 1), loud = quiet;
    auto* amp = static_cast<IHarnwickAmpDirect*>(direct);
    amp->setParameter(AMP_OUTPUT_LEVEL, -30.0f);
    amp->resetState();
    processBuffer(direct, quiet.data(), 4096, 1);
    amp->setParameter(AMP_OUTPUT_LEVEL, 0.0f);
    amp->resetState();
    processBuffer(direct, loud.data(), 4096, 1);
    double sumQuiet = 0, sumLoud = 0;
    for (int i = 0; i < 4096; ++i) {
        sumQuiet += std::fabs(quiet[i]);
        sumLoud += std::fabs(loud[i]);
    }
    EXPECT_GT(sumLoud, 10 * sumQuiet);

    char name[32];
    EXPECT_EQ(S_OK, amp->getParameterName(AMP_TREBLE, name, sizeof name));
    EXPECT_STREQ("Treble", name);
    EXPECT_EQ(E_INVALIDARG, processBuffer(direct, loud.data(), 16, 3));
    direct->Release();
    filter->Release();
}

// Each faulty plug-in, put under the plug-in's class id, shows exactly its fault.
struct Variant {
    const char* dll;
    std::vector<PIN_DIRECTION> pins;
    bool persist, pages, direct;
    ULONGLONG stateBytes;
};

TEST_F(AmpComTest, EachVariantShowsExactlyItsFault) {
    const std::vector<PIN_DIRECTION> inOut = {PINDIR_INPUT, PINDIR_OUTPUT};
    const Variant variants[] = {
        {kAmpPlugin, inOut, true, true, true, 64},
        {kThreePinsPlugin, {PINDIR_INPUT, PINDIR_OUTPUT, PINDIR_OUTPUT}, true, true, true, 64},
        {kTwoInputsPlugin, {PINDIR_INPUT, PINDIR_INPUT}, true, true, true, 64},
        {kNoPersistPlugin, inOut, false, true, true, 0},
        {kNoPagesPlugin, inOut, true, false, true, 64},
        {kNoDirectPlugin, inOut, true, true, false, 64},
        {kOtherSizePlugin, inOut, true, true, true, 96},
    };
    for (const Variant& v : variants) {
        SCOPED_TRACE(v.dll);
        PluginClassSwap swap(v.dll);
        ASSERT_EQ(S_OK, swap.result());
        IBaseFilter* filter = createAmp();
        ASSERT_NE(nullptr, filter);
        EXPECT_EQ(v.pins, pinDirections(filter));
        void* itf = nullptr;
        auto answers = [&](REFIID iid) {
            HRESULT hr = filter->QueryInterface(iid, &itf);
            if (SUCCEEDED(hr)) static_cast<IUnknown*>(itf)->Release();
            return hr == S_OK;
        };
        EXPECT_EQ(v.persist, answers(IID_IPersistStream));
        EXPECT_EQ(v.pages, answers(IID_ISpecifyPropertyPages));
        EXPECT_EQ(v.direct, answers(IID_IHarnwickAmpDirect));
        EXPECT_TRUE(answers(IID_IBaseFilter));
        EXPECT_EQ(v.stateBytes, persistedSize(filter));
        EXPECT_EQ(0u, filter->Release());
    }
    // Every swap gave the class back to the real plug-in.
    EXPECT_EQ(pluginPath(kAmpPlugin), registeredServerPath(CLSID_HarnwickAmp));
}
