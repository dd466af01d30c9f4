// Runs the three-filter graph for real on the virtual soundcard: the input
// stream reads the guitar sink's monitor, the test pass-through carries each
// chunk, the output stream plays it on the speaker. loopback_test.sh plays a
// tone into the guitar sink and checks what the speaker monitor heard; this
// program checks the graph side (it ran, nothing was shown, all released).
#include <cstdlib>

#include "graphfixture.h"
#include "settings/settings.h"

namespace {

class LoopbackTest : public GraphTest {
protected:
    void runGraph() {
        const char* secondsText = getenv("HW_LOOPBACK_SECONDS");
        int seconds = secondsText ? atoi(secondsText) : 3;
        MessageBoxRecorder boxes;
        connectAll(2, 44100);
        ASSERT_EQ(1, openInput(synth()->input, nullptr, 44100, 2));
        Dump* d = dump();
        ASSERT_EQ(1, openOutput(d->output, d->filter->outputOpen, nullptr, 44100, 2));
        ASSERT_EQ(S_OK, control_->Run());
        Sleep(seconds * 1000);
        ASSERT_EQ(S_OK, control_->Stop());
        closeInput(synth()->input);
        closeOutput(d->output, d->filter->outputOpen);
        EXPECT_TRUE(boxes.calls().empty()) << boxes.calls()[0].text;
        // At least half the run's audio went through, stamped in frames.
        LONGLONG frames = synth()->stream->lastStopTime();
        printf("frames carried: %lld in %d s\n", frames, seconds);
        EXPECT_GT(frames, seconds * 44100LL / 2);
        EXPECT_EQ(S_OK, pass_->lastDeliverResult.load());
    }
};

}  // namespace

TEST_F(LoopbackTest, WaveApi) {
    writeSettingText("chunks_wave", "512");
    runGraph();
}

TEST_F(LoopbackTest, DirectSound) {
    writeSettingText("USE_DIRECTX", "TRUE");
    writeSettingText("chunks", "512");
    runGraph();
}

TEST_F(LoopbackTest, WaveApiAtTheProcessingRate) {
    writeSettingText("chunks_wave", "512");
    writeSettingText("DONT RESAMPLE", "TRUE");
    runGraph();
}
