// The COM server: class objects, the class factory and the unload answer (the package test checks the
// registration).
#include "filters/filters.h"
#include "support/testenv.h"

namespace {

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
};

}  // namespace

TEST_F(ServerTest, ClassObjectsAndTheFactoryAnswerOnlyForWhatTheyServe) {
    void* out = reinterpret_cast<void*>(1);
    EXPECT_EQ(CLASS_E_CLASSNOTAVAILABLE, DllGetClassObject(CLSID_FilterGraph, IID_IClassFactory, &out));
    EXPECT_EQ(nullptr, out);

    IClassFactory* factory = nullptr;
    ASSERT_EQ(S_OK, DllGetClassObject(CLSID_HarnwickDump, IID_IClassFactory, reinterpret_cast<void**>(&factory)));
    // Aggregated, only IUnknown may be asked for.
    EXPECT_EQ(E_NOINTERFACE, factory->CreateInstance(factory, IID_IBaseFilter, &out));
    EXPECT_EQ(nullptr, out);
    EXPECT_EQ(0, liveObjectCount());
    EXPECT_EQ(0u, factory->Release());
}

TEST_F(ServerTest, CanUnloadFollowsLiveObjectsAndServerLocks) {
    EXPECT_EQ(S_OK, DllCanUnloadNow());
    IClassFactory* factory = nullptr;
    ASSERT_EQ(S_OK, DllGetClassObject(CLSID_HarnwickReader, IID_IClassFactory, reinterpret_cast<void**>(&factory)));
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
