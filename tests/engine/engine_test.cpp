// RUN and STOP in both processing modes on the real three-filter graph, and a media control that fails.
#include <thread>

#include "engine/engine.h"
#include "graphfixture.h"
#include "ui/hostdialog.h"
#include "ui/resource.h"
#include "plugin/harnwickamp.h"
#include "settings/settings.h"
#include "support/fakefilter.h"
#include "fakedevices.h"
#include "uitest.h"

namespace {

// Answers Run and Stop with chosen results and counts the calls.
class FakeMediaControl : public FakeUnknown<IMediaControl> {
public:
    HRESULT runResult = S_OK, stopResult = S_OK;
    int runs = 0, stops = 0;
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** out) override {
        *out = nullptr;
        return E_NOINTERFACE;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Run() override {
        ++runs;
        return runResult;
    }
    HRESULT STDMETHODCALLTYPE Pause() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Stop() override {
        ++stops;
        return stopResult;
    }
    HRESULT STDMETHODCALLTYPE GetState(LONG, OAFilterState*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE RenderFile(BSTR) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE AddSourceFilter(BSTR, IDispatch**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_FilterCollection(IDispatch**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_RegFilterCollection(IDispatch**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE StopWhenReady() override { return E_NOTIMPL; }
};

// A fake filter that also offers Interface, whose methods the derived class gives.
template <class Interface, const IID& kIid>
class FilterWith : public FakeFilter, public Interface {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (!IsEqualIID(iid, kIid)) return FakeFilter::QueryInterface(iid, out);
        *out = static_cast<Interface*>(this);
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return FakeFilter::AddRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return FakeFilter::Release(); }
};

// A plug-in that offers direct processing: halves every sample and counts the chunks.
class DirectPlugin : public FilterWith<IHarnwickAmpDirect, IID_IHarnwickAmpDirect> {
public:
    LONG chunks = 0;
    int lastFrames = 0, lastChannels = 0;
    HANDLE gate = nullptr;  // when set, each chunk waits until it is signalled
    volatile LONG blocked = 0;
    DWORD chunkMs = 0;  // each chunk takes this long
    HRESULT STDMETHODCALLTYPE getParameterCount(int*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE getParameter(int, float*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE setParameter(int, float) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE getParameterName(int, char*, int) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE resetState() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE processBuffer(float* samples, int frames, int channels) override {
        if (gate) {
            blocked = 1;
            WaitForSingleObject(gate, INFINITE);
        }
        Sleep(chunkMs);
        for (int i = 0; i < frames * channels; ++i) samples[i] *= 0.5f;
        lastFrames = frames;
        lastChannels = channels;
        InterlockedIncrement(&chunks);
        return S_OK;
    }
};

class EngineTest : public GraphTest {
protected:
    void SetUp() override {
        GraphTest::SetUp();
        resetEngineForTests();
        // Legacy wave devices at the processing rate, small chunks.
        writeSettingFlag("DONT RESAMPLE", true);
        writeSettingInt("chunks_wave", 256);
        connectAll(2, 44100);
        pReader = reader_;
        pWriter = writer_;
        pPlugin = plugin_;
        pMC = control_;
    }
    void TearDown() override {
        shutdownProcessing();
        pReader = pWriter = pPlugin = nullptr;
        pMC = nullptr;
        resetEngineForTests();
        GraphTest::TearDown();
    }
    void useDirect() {
        pPlugin = &direct;
        writeSettingFlag("DONT USE WINDOWS DX HANDLER", true);
    }
    bool inputOpen() { return synth()->input.isOpen != 0; }
    bool outputOpen() { return dump()->filter->outputOpen != 0; }

    FakeMediaControl control;  // outlive the loop's shut down in TearDown
    DirectPlugin direct;
    MessageBoxRecorder boxes;
};

TEST_F(EngineTest, FailedRunAndStopAreFinal) {
    pMC = &control;
    control.runResult = S_FALSE;
    EXPECT_EQ(1, startProcessing(nullptr));
    EXPECT_EQ(0, startProcessing(nullptr));
    EXPECT_EQ(0, stopProcessing());
    EXPECT_EQ(1, control.runs);
    EXPECT_TRUE(inputOpen()) << "the streams stay open until the loop is shut down";
    shutdownProcessing();
    EXPECT_EQ(1, control.stops) << "shut down stops the graph whatever the run state";
    EXPECT_FALSE(inputOpen() || outputOpen());

    resetEngineForTests();
    control.runResult = S_OK;
    control.stopResult = E_FAIL;
    ASSERT_EQ(1, startProcessing(nullptr));
    EXPECT_EQ(1, stopProcessing());
    EXPECT_EQ(RUN_STATE_FAILED, runState());
    EXPECT_EQ(2, control.stops);
    EXPECT_FALSE(inputOpen() || outputOpen()) << "the streams are closed whatever Stop said";
    ASSERT_EQ(2u, boxes.calls().size());
    EXPECT_EQ("HRESULT: 0x1", boxes.calls()[0].text);
    EXPECT_EQ("DirectX:\n\nThe plugin had a problem while stoping.", boxes.calls()[1].text);
}

TEST_F(EngineTest, ShutdownWaitsForAnEngineThreadThatOutlivedItsStop) {
    useDirect();
    ASSERT_EQ(1, startProcessing(nullptr));
    ASSERT_EQ(RUN_STATE_RUNNING, runState());
    HANDLE gate = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    direct.gate = gate;
    ASSERT_TRUE(waitFor([&] { return direct.blocked != 0; }));
    EXPECT_EQ(1, stopProcessing()) << "gives up after its 1 s poll";
    EXPECT_EQ(RUN_STATE_FAILED, runState());
    std::thread release([&] {
        Sleep(300);
        SetEvent(gate);
    });
    shutdownProcessing();
    EXPECT_EQ(ENGINE_ENDED, engineState()) << "the thread has ended before shut down returns";
    EXPECT_EQ(1, direct.refs) << "the direct interface is given back";
    release.join();
    CloseHandle(gate);
}

// A capture device that delivers nothing yet (a soundcard still starting up) keeps the engine thread in
// its wait for the device: STOP must end the thread within its own wait all the same.
TEST_F(EngineTest, StopEndsTheEngineThreadWhileTheCaptureDeliversNothing) {
    FakeDevices devices;  // the capture position never moves
    direct.chunkMs = 300;
    useDirect();
    writeSettingFlag("USE_DIRECTX", true);
    ASSERT_EQ(1, startProcessing(nullptr));
    ASSERT_EQ(RUN_STATE_RUNNING, runState()) << "the first chunk is silence after the wait";
    EXPECT_EQ(1, stopProcessing());
    EXPECT_EQ(RUN_STATE_STOPPED, runState()) << "the engine thread ended within STOP's wait";
    EXPECT_TRUE(boxes.calls().empty());
    shutdownProcessing();  // before the fakes go
}

// Graph mode runs the real graph, direct mode the engine thread through the plug-in's own interface (mono
// here, to see the channels it is given); RUN twice changes nothing; STOP takes the path of the mode that
// runs, even when the setting was changed meanwhile.
TEST_F(EngineTest, RunAndStopInEachMode) {
    pPlugin = &direct;
    for (bool startDirect : {false, true}) {
        SCOPED_TRACE(startDirect ? "direct" : "graph");
        writeSettingFlag("DONT USE WINDOWS DX HANDLER", startDirect);
        writeSettingInt("channels", startDirect ? 1 : 2);
        const int graphSamples = pass_->samplesReceived.load();
        ASSERT_EQ(1, startProcessing(nullptr));
        ASSERT_EQ(RUN_STATE_RUNNING, runState());
        const int take = readSettingInt("TAKE_NUMBER");
        EXPECT_EQ(startDirect ? 2 : 1, take) << "every RUN is a new take";
        EXPECT_TRUE(inputOpen() && outputOpen());
        if (startDirect) {
            EXPECT_TRUE(waitFor([&] { return direct.chunks > 3; }));
            EXPECT_EQ(256, direct.lastFrames);
            EXPECT_EQ(1, direct.lastChannels);
            EXPECT_EQ(graphSamples, pass_->samplesReceived.load()) << "the graph does not run in direct mode";
        } else {
            EXPECT_TRUE(waitFor([&] { return pass_->samplesReceived.load() > 3; })) << "chunks travel the graph";
        }
        EXPECT_EQ(1, startProcessing(nullptr)) << "RUN while running changes nothing";
        EXPECT_EQ(take, readSettingInt("TAKE_NUMBER"));
        writeSettingFlag("DONT USE WINDOWS DX HANDLER", !startDirect);  // changed outside the program
        ASSERT_EQ(1, stopProcessing());
        EXPECT_EQ(RUN_STATE_STOPPED, runState());
        EXPECT_FALSE(inputOpen() || outputOpen());
        EXPECT_TRUE(!startDirect || engineState() == ENGINE_ENDED);
    }
    EXPECT_EQ(1, direct.refs) << "the direct interface is given back";
    EXPECT_TRUE(boxes.calls().empty());
}

// A plug-in with no property pages: the host dialog then shows only its buttons.
class PagelessPlugin : public FilterWith<ISpecifyPropertyPages, IID_ISpecifyPropertyPages> {
public:
    HRESULT STDMETHODCALLTYPE GetPages(CAUUID* pages) override {
        *pages = CAUUID{0, nullptr};
        return S_OK;
    }
};

// The user clicks RUN and Exit again while the start's information box is up.
struct ClickingBox {
    static inline int calls = 0;
    static inline BOOL dialogEnabled = TRUE;
    static int WINAPI show(HWND, LPCSTR, LPCSTR, UINT) {
        if (calls++ == 0) {
            HWND dialog = FindWindowA(nullptr, "Harnwick soundcard loopback host");
            dialogEnabled = IsWindowEnabled(dialog);
            SendMessageA(dialog, WM_COMMAND, IDC_HOST_RUN_STOP, 0);
            SendMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
        }
        return IDOK;
    }
};

TEST_F(EngineTest, HostDialogIgnoresItsButtonsWhileAStartShowsABox) {
    control.runResult = S_FALSE;  // the start ends with an information box
    pMC = &control;
    PagelessPlugin plugin;
    PlatformOverride seam;
    seam.api().messageBoxA = ClickingBox::show;
    writeSettingInt("times", 1);  // no first-start wizard
    bool ended = false;
    driveDialog([&] { return showHostDialog(&plugin) ? 1 : 0; },
                [&] {
                    HWND dialog = waitForDialog("Harnwick soundcard loopback host");
                    ASSERT_TRUE(dialog);
                    pressButton(dialog, IDC_HOST_RUN_STOP);
                    ended = !IsWindow(dialog);
                    pressButton(dialog, IDOK);
                });
    EXPECT_EQ(1, control.runs) << "RUN is not entered again";
    EXPECT_EQ(1, ClickingBox::calls);
    EXPECT_FALSE(ClickingBox::dialogEnabled) << "the dialog takes no clicks while it starts";
    EXPECT_FALSE(ended) << "Exit does not end the dialog under the start";
    EXPECT_EQ(1, control.stops) << "Exit shuts the loop down";
}

}  // namespace
