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

std::string threadingModel() {
    char text[MAX_PATH] = {};
    DWORD bytes = sizeof text - 1;
    RegGetValueA(HKEY_CLASSES_ROOT, "CLSID\\{8C5FA956-AA2A-4623-8BDC-E495166C892E}\\InprocServer32",
                 "ThreadingModel", RRF_RT_REG_SZ, nullptr, text, &bytes);
    return text;
}

IStream* streamOf(const std::vector<unsigned char>& bytes) {
    IStream* stream = nullptr;
    CreateStreamOnHGlobal(nullptr, TRUE, &stream);
    stream->Write(bytes.data(), ULONG(bytes.size()), nullptr);
    LARGE_INTEGER zero = {};
    stream->Seek(zero, STREAM_SEEK_SET, nullptr);
    return stream;
}

std::vector<unsigned char> streamBytes(IStream* stream) {
    HGLOBAL memory = nullptr;
    GetHGlobalFromStream(stream, &memory);
    STATSTG stat = {};
    stream->Stat(&stat, STATFLAG_NONAME);
    auto* p = static_cast<unsigned char*>(GlobalLock(memory));
    std::vector<unsigned char> bytes(p, p + stat.cbSize.QuadPart);
    GlobalUnlock(memory);
    return bytes;
}

}  // namespace

TEST_F(AmpComTest, RegistersBothClassesAndUnregistersThem) {
    const std::string path = pluginPath(kAmpPlugin);
    EXPECT_EQ(path, registeredServerPath(kPageClass));
    EXPECT_EQ("Both", threadingModel());
    for (int twice = 0; twice < 2; ++twice) EXPECT_EQ(S_OK, callServerRegistration(path.c_str(), false));
    EXPECT_FALSE(isClassRegistered(CLSID_HarnwickAmp));
    EXPECT_FALSE(isClassRegistered(kPageClass));
    EXPECT_EQ(S_OK, callServerRegistration(path.c_str(), true));
}

TEST_F(AmpComTest, ServerRefusesWhatItDoesNotServeAndUnloadsOnlyWhenIdle) {
    HMODULE dll = LoadLibraryA(pluginPath(kAmpPlugin).c_str());
    auto getClass = reinterpret_cast<HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**)>(
        reinterpret_cast<void*>(GetProcAddress(dll, "DllGetClassObject")));
    auto canUnload =
        reinterpret_cast<HRESULT(STDAPICALLTYPE*)()>(reinterpret_cast<void*>(GetProcAddress(dll, "DllCanUnloadNow")));
    ASSERT_TRUE(getClass && canUnload);

    void* out = reinterpret_cast<void*>(1);
    EXPECT_EQ(CLASS_E_CLASSNOTAVAILABLE, getClass(IID_IUnknown, IID_IClassFactory, &out));
    EXPECT_EQ(nullptr, out);
    EXPECT_EQ(E_NOINTERFACE, getClass(CLSID_HarnwickAmp, IID_IBaseFilter, &out));
    EXPECT_EQ(S_OK, canUnload());

    IClassFactory* factory = nullptr;
    ASSERT_EQ(S_OK, getClass(CLSID_HarnwickAmp, IID_IClassFactory, reinterpret_cast<void**>(&factory)));
    EXPECT_EQ(CLASS_E_NOAGGREGATION, factory->CreateInstance(factory, IID_IUnknown, &out));  // any outer object
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
    auto* direct = query<IHarnwickAmpDirect>(a, IID_IHarnwickAmpDirect);
    auto* persistA = query<IPersistStream>(a, IID_IPersistStream);
    auto* persistB = query<IPersistStream>(b, IID_IPersistStream);
    ASSERT_TRUE(direct && persistA && persistB);

    ULARGE_INTEGER size = {};
    EXPECT_EQ(S_OK, persistA->GetSizeMax(&size));
    EXPECT_EQ(64u, size.QuadPart);
    EXPECT_EQ(S_FALSE, persistA->IsDirty());
    EXPECT_EQ(S_OK, direct->setParameter(AMP_DRIVE, 8.5f));
    EXPECT_EQ(E_INVALIDARG, direct->setParameter(AMP_PARAMETER_COUNT, 1.0f));
    EXPECT_EQ(S_OK, persistA->IsDirty());

    IStream* stream = nullptr;
    ASSERT_EQ(S_OK, CreateStreamOnHGlobal(nullptr, TRUE, &stream));
    ASSERT_EQ(S_OK, persistA->Save(stream, TRUE));
    EXPECT_EQ(S_FALSE, persistA->IsDirty());
    const std::vector<unsigned char> bytes = streamBytes(stream);
    stream->Release();
    ASSERT_EQ(64u, bytes.size());
    EXPECT_EQ(0, memcmp(bytes.data(), "HAmp", 4));

    // A stream cut short is refused and leaves the object as it was.
    const std::vector<unsigned char> blocks[] = {bytes, std::vector<unsigned char>(bytes.begin(), bytes.begin() + 40)};
    for (const auto& block : blocks) {
        IStream* saved = streamOf(block);
        EXPECT_EQ(&block == &blocks[0], SUCCEEDED(persistB->Load(saved))) << block.size();
        saved->Release();
        EXPECT_EQ(parametersOf(a), parametersOf(b));
    }
    EXPECT_EQ(8.5f, parametersOf(b)[AMP_DRIVE]);
    persistB->Release();
    persistA->Release();
    direct->Release();
    b->Release();
    a->Release();
}

// Other hosts call processBuffer by its position; the re-amp and live tests reach it by name.
TEST_F(AmpComTest, DirectProcessingIsTheNinthMethodTableEntry) {
    IBaseFilter* filter = createAmp();
    ASSERT_NE(nullptr, filter);
    auto* amp = query<IHarnwickAmpDirect>(filter, IID_IHarnwickAmpDirect);
    ASSERT_NE(nullptr, amp);
    typedef HRESULT(STDMETHODCALLTYPE * ProcessBuffer)(IUnknown*, float*, int, int);
    auto processBuffer = reinterpret_cast<ProcessBuffer>((*reinterpret_cast<void***>(amp))[8]);
    std::vector<float> buffer(4096), expected(4096);
    for (size_t i = 0; i < buffer.size(); ++i) buffer[i] = expected[i] = float(0.4 * std::sin(i * 0.03));
    AmpDsp().process(expected.data(), 4096, 1);  // the same sound at the same defaults and rate
    EXPECT_EQ(S_OK, processBuffer(amp, buffer.data(), 4096, 1));
    EXPECT_EQ(expected, buffer);
    EXPECT_EQ(E_INVALIDARG, processBuffer(amp, buffer.data(), 16, 3));
    char name[32];
    EXPECT_EQ(S_OK, amp->getParameterName(AMP_TREBLE, name, sizeof name));
    EXPECT_STREQ("Treble", name);
    amp->Release();
    filter->Release();
}
