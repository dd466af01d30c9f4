// The plug-in DLL through COM: registration, persisted state, and the direct
// interface by its method-table position.
#include <cmath>

#include "ampdsp.h"
#include "amptest.h"
#include "registration.h"

namespace {

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

TEST_F(AmpComTest, RegistersAndUnregisters) {
    const std::string path = pluginPath(kAmpPlugin);
    for (int twice = 0; twice < 2; ++twice) EXPECT_EQ(S_OK, callServerRegistration(path.c_str(), false));
    EXPECT_FALSE(isClassRegistered(CLSID_HarnwickAmp));
    EXPECT_EQ(S_OK, callServerRegistration(path.c_str(), true));
}

TEST_F(AmpComTest, PersistedStateRoundTripsAndForeignOrShortBlocksAreRefused) {
    IBaseFilter* a = createAmp();
    IBaseFilter* b = createAmp();
    ASSERT_TRUE(a && b);
    auto* direct = query<IHarnwickAmpDirect>(a, IID_IHarnwickAmpDirect);
    auto* persistA = query<IPersistStream>(a, IID_IPersistStream);
    auto* persistB = query<IPersistStream>(b, IID_IPersistStream);
    ASSERT_TRUE(direct && persistA && persistB);

    EXPECT_EQ(S_FALSE, persistA->IsDirty());
    EXPECT_EQ(S_OK, direct->setParameter(AMP_DRIVE, 8.5f));
    EXPECT_EQ(S_OK, persistA->IsDirty());

    IStream* stream = nullptr;
    ASSERT_EQ(S_OK, CreateStreamOnHGlobal(nullptr, TRUE, &stream));
    ASSERT_EQ(S_OK, persistA->Save(stream, TRUE));
    EXPECT_EQ(S_FALSE, persistA->IsDirty());
    const std::vector<unsigned char> bytes = streamBytes(stream);
    stream->Release();
    ASSERT_EQ(64u, bytes.size());

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
    amp->Release();
    filter->Release();
}
