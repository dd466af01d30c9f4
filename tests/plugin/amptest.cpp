#include "amptest.h"

#include "registration.h"

void AmpComTest::SetUp() {
    HarnwickTest::SetUp();
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    // A test that died inside a class swap may have left a faulty plug-in registered.
    ASSERT_EQ(S_OK, callServerRegistration(pluginPath(kAmpPlugin).c_str(), true));
}

void AmpComTest::TearDown() {
    CoUninitialize();
    HarnwickTest::TearDown();
}

IBaseFilter* AmpComTest::createAmp() {
    IBaseFilter* filter = nullptr;
    HRESULT hr = CoCreateInstance(CLSID_HarnwickAmp, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                                  reinterpret_cast<void**>(&filter));
    EXPECT_EQ(S_OK, hr);
    return SUCCEEDED(hr) ? filter : nullptr;
}

std::vector<float> parametersOf(IUnknown* amp) {
    std::vector<float> values;
    IHarnwickAmpDirect* direct = nullptr;
    if (FAILED(amp->QueryInterface(IID_IHarnwickAmpDirect, reinterpret_cast<void**>(&direct)))) return values;
    int count = 0;
    direct->getParameterCount(&count);
    for (int i = 0; i < count; ++i) {
        float v = 0;
        direct->getParameter(i, &v);
        values.push_back(v);
    }
    direct->Release();
    return values;
}

std::vector<unsigned char> streamBytes(IStream* stream) {
    HGLOBAL memory = nullptr;
    std::vector<unsigned char> bytes;
    if (FAILED(GetHGlobalFromStream(stream, &memory))) return bytes;
    STATSTG stat = {};
    stream->Stat(&stat, STATFLAG_NONAME);
    auto* p = static_cast<unsigned char*>(GlobalLock(memory));
    bytes.assign(p, p + stat.cbSize.QuadPart);
    GlobalUnlock(memory);
    return bytes;
}
