// Stream statistics and the error the audio path met, kept per run.
//
// The counters are plain values: each is written by one thread only (the
// input's by the reading thread, the output's by the writing thread, the
// recording losses at close) and read when the run has stopped.
//
// An audio thread must not show a box (it would wait on the user, and a lost
// device would raise one per chunk): it notes the first error of the run, and
// the dialog's thread shows it once at STOP.
#include <atomic>

#include "audio/audio.h"
#include "tracelog/trace.h"

namespace {

StreamStatistics g_statistics;

struct NotedError {
    std::atomic<int> state{0};  // 0 none, 1 being written, 2 ready
    MMRESULT code = 0;
    WaveErrorTextFn errorText = nullptr;
    const char* activity = "";
};
NotedError g_error;

}  // namespace

StreamStatistics& streamStatistics() { return g_statistics; }

void resetStreamStatistics() { g_statistics = StreamStatistics(); }

void traceStreamStatistics() {
    const StreamStatistics& s = g_statistics;
    TRACE(TRACE_INFO,
          "stream statistics: captured %lld, delivered %lld, played %lld, dropped %lld, faded cuts %lld, "
          "backlog drops %lld, output resyncs %lld, requeue-alls %lld, recording bytes lost %lld, "
          "waveIn buffers %d, waveOut queue limit %d, most queued %d, output window %d ms",
          static_cast<long long>(s.chunksCaptured), static_cast<long long>(s.chunksDelivered),
          static_cast<long long>(s.chunksPlayed), static_cast<long long>(s.chunksDropped),
          static_cast<long long>(s.fadedCuts), static_cast<long long>(s.backlogDrops),
          static_cast<long long>(s.outputResyncs), static_cast<long long>(s.requeueAlls),
          static_cast<long long>(s.recordingBytesLost), s.waveInBuffers, s.waveOutQueueLimit,
          s.waveOutMostQueued, s.outputWindowMs);
}

void noteStreamError(MMRESULT code, WaveErrorTextFn errorText, const char* activity) {
    if (code == MMSYSERR_NOERROR) return;
    int expected = 0;
    if (!g_error.state.compare_exchange_strong(expected, 1)) return;  // the run's first error is kept
    g_error.code = code;
    g_error.errorText = errorText;
    g_error.activity = activity;
    g_error.state.store(2, std::memory_order_release);
}

void showStreamError() {
    if (g_error.state.load(std::memory_order_acquire) != 2) return;
    TRACE(TRACE_ERROR, "the soundcard reported error %u while %s", g_error.code, g_error.activity);
    showWaveError(g_error.code, g_error.errorText, g_error.activity);
    g_error.state.store(0, std::memory_order_release);
}
