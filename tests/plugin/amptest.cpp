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
    EXPECT_EQ(S_OK, CoCreateInstance(CLSID_HarnwickAmp, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                                     reinterpret_cast<void**>(&filter)));
    return filter;
}

std::vector<float> parametersOf(IUnknown* amp) {
    std::vector<float> values;
    IHarnwickAmpDirect* direct = query<IHarnwickAmpDirect>(amp, IID_IHarnwickAmpDirect);
    if (!direct) return values;
    int count = 0;
    direct->getParameterCount(&count);
    values.resize(size_t(count));
    for (int i = 0; i < count; ++i) direct->getParameter(i, &values[size_t(i)]);
    direct->Release();
    return values;
}
