// The plug-in DLL through COM: registration, the class factory, persisted
// state, and the direct interface by its method-table position.
#include <cmath>
#include <cstring>

#include "ampdsp.h"
#include "amptest.h"
#include "registration.h"

namespace {

// {E8611201-637A-4F77-A7F8-35AD1274F774}, the page's class as the DLL registers it.
const GUID kPageClass = {0xe8611201, 0x637a, 0x4f77, {0xa7, 0xf8, 0x35, 0xad, 0x12, 0x74, 0xf7, 0x74}};
const char kServerKey[] = "CLSID\\{8C5FA956-AA2A-4623-8BDC-E495166C892E}\\InprocServer32";

std::string threadingModel() {
    char text[MAX_PATH] = {};
    DWORD bytes = sizeof text - 1;
    if (RegGetValueA(HKEY_CLASSES_ROOT, kServerKey, "ThreadingModel", RRF_RT_REG_SZ, nullptr, text, &bytes))
        return "<none>";
    return text;
}

std::vector<float> guitarLike(int frames, int channels) {
    std::vector<float> v(size_t(frames) * channels);
    for (int f = 0; f < frames; ++f)
        for (int c = 0; c < channels; ++c)
            v[size_t(f) * channels + c] = float(0.4 * std::sin(2 * 3.14159265 * 110 * f / 44100) * std::exp(-f / 20000.0) +
                                                0.1 * std::sin(2 * 3.14159265 * 1320 * f / 44100 + c));
    return v;
}

IStream* streamOf(const unsigned char* bytes, ULONG count) {
    IStream* stream = nullptr;
    CreateStreamOnHGlobal(nullptr, TRUE, &stream);
    stream->Write(bytes, count, nullptr);
    LARGE_INTEGER zero = {};
    stream->Seek(zero, STREAM_SEEK_SET, nullptr);
    return stream;
}

}  // namespace

TEST_F(AmpComTest, RegistersBothClassesAndUnregistersThem) {
    std::string path = pluginPath(kAmpPlugin);
    EXPECT_EQ(path, registeredServerPath(CLSID_HarnwickAmp));
    EXPECT_EQ(path, registeredServerPath(kPageClass));
    EXPECT_EQ("Both", threadingModel());

    for (int twice = 0; twice < 2; ++twice) EXPECT_EQ(S_OK, callServerRegistration(path.c_str(), false));
    EXPECT_FALSE(isClassRegistered(CLSID_HarnwickAmp));
    EXPECT_FALSE(isClassRegistered(kPageClass));
    EXPECT_EQ("<none>", threadingModel());
    IBaseFilter* filter = nullptr;
    EXPECT_EQ(REGDB_E_CLASSNOTREG, CoCreateInstance(CLSID_HarnwickAmp, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                                                    reinterpret_cast<void**>(&filter)));

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

TEST_F(AmpComTest, PersistedStateRoundTripsAndForeignOrShortBlocksAreRefused) {
    IBaseFilter* a = createAmp();
    IBaseFilter* b = createAmp();
    ASSERT_TRUE(a && b);
    IHarnwickAmpDirect* direct = nullptr;
    IPersistStream *persistA = nullptr, *persistB = nullptr;
    ASSERT_EQ(S_OK, a->QueryInterface(IID_IHarnwickAmpDirect, reinterpret_cast<void**>(&direct)));
    ASSERT_EQ(S_OK, a->QueryInterface(IID_IPersistStream, reinterpret_cast<void**>(&persistA)));
    ASSERT_EQ(S_OK, b->QueryInterface(IID_IPersistStream, reinterpret_cast<void**>(&persistB)));

    ULARGE_INTEGER size = {};
    EXPECT_EQ(S_OK, persistA->GetSizeMax(&size));
    EXPECT_EQ(64u, size.QuadPart);
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
    stream->Release();
    ASSERT_EQ(64u, bytes.size());
    EXPECT_EQ(0, memcmp(bytes.data(), "HAmp", 4));
    IStream* saved = streamOf(bytes.data(), 64);
    ASSERT_EQ(S_OK, persistB->Load(saved));
    saved->Release();
    EXPECT_EQ(parametersOf(a), parametersOf(b));
    EXPECT_EQ(8.5f, parametersOf(b)[AMP_DRIVE]);

    // A foreign block, and one cut short, are refused and leave the object as it was.
    const std::vector<unsigned char> foreign(64, 0x5A);
    const std::vector<unsigned char> cut(bytes.begin(), bytes.begin() + 40);
    for (const auto* block : {&foreign, &cut}) {
        IStream* refused = streamOf(block->data(), ULONG(block->size()));
        EXPECT_TRUE(FAILED(persistB->Load(refused))) << block->size();
        refused->Release();
        EXPECT_EQ(8.5f, parametersOf(b)[AMP_DRIVE]);
    }
    persistB->Release();
    persistA->Release();
    direct->Release();
    b->Release();
    a->Release();
}

TEST_F(AmpComTest, DirectProcessingIsTheNinthMethodTableEntry) {
    IBaseFilter* filter = createAmp();
    ASSERT_NE(nullptr, filter);
    IHarnwickAmpDirect* amp = nullptr;
    ASSERT_EQ(S_OK, filter->QueryInterface(IID_IHarnwickAmpDirect, reinterpret_cast<void**>(&amp)));
    typedef HRESULT(STDMETHODCALLTYPE * ProcessBuffer)(IUnknown*, float*, int, int);
    auto processBuffer = reinterpret_cast<ProcessBuffer>((*reinterpret_cast<void***>(amp))[8]);

    for (int channels : {1, 2}) {
        std::vector<float> buffer = guitarLike(4096, channels);
        std::vector<float> expected = buffer;
        AmpDsp reference;  // the same sound at the same defaults and rate
        reference.process(expected.data(), 4096, channels);
        amp->resetState();
        EXPECT_EQ(S_OK, processBuffer(amp, buffer.data(), 4096, channels));
        EXPECT_EQ(expected, buffer);
    }

    // A parameter set through the interface changes what the ninth entry produces.
    std::vector<float> quiet = guitarLike(4096, 1), loud = quiet;
    for (auto* run : {&quiet, &loud}) {
        amp->setParameter(AMP_OUTPUT_LEVEL, run == &quiet ? -30.0f : 0.0f);
        amp->resetState();
        processBuffer(amp, run->data(), 4096, 1);
    }
    double sumQuiet = 0, sumLoud = 0;
    for (int i = 0; i < 4096; ++i) {
        sumQuiet += std::fabs(quiet[i]);
        sumLoud += std::fabs(loud[i]);
    }
    EXPECT_GT(sumLoud, 10 * sumQuiet);

    char name[32];
    EXPECT_EQ(S_OK, amp->getParameterName(AMP_TREBLE, name, sizeof name));
    EXPECT_STREQ("Treble", name);
    EXPECT_EQ(E_INVALIDARG, processBuffer(amp, loud.data(), 16, 3));
    amp->Release();
    filter->Release();
}
