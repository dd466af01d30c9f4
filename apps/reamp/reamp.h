// HarnwickReamp: runs a recorded dry take through the amplifier plug-in,
// offline, and writes what the amplifier makes of it.
//
// How it works
// - The input WAV is read one chunk at a time and converted to the plug-in's
//   interleaved float (wavread). The output is written one chunk at a time
//   into a work file beside the output, which takes the output's name only
//   when the whole take is done (wavwrite): a failure leaves no output behind.
// - The plug-in is created the way the live host creates it (registered from
//   beside the program when its class is missing), given the sound the live
//   host saved or a --state file, and connected between our memory source and
//   memory sink filters at the take's rate and channels, so it learns the rate
//   as in the live graph (reampgraph). With the direct interface the chunks go
//   through processBuffer on this thread; without it the graph runs and the
//   source pushes chunks as fast as the plug-in takes them.
// - One chunk is in flight at a time: memory does not grow with the take.
#pragma once

#include <windows.h>
#include <strmif.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "audio/audio.h"

const int kReampMinChunk = 10;
const int kReampMaxChunk = 8192;

struct ReampOptions {
    std::string input;
    std::string output;     // empty: the input's name with " (reamp)" before the extension
    std::string statePath;  // empty: the live host's "Default Live setting" beside this program
    int chunkFrames = 0;    // 0: the chunk the live host processes with its current settings
    bool floatOutput = false;
    // The plug-in's class; tests put their own plug-ins here.
    const CLSID* pluginClass = nullptr;  // null: the Harnwick amplifier
    // Where notes and progress go (stdout by default).
    void (*say)(const char* text) = nullptr;
    bool showProgress = false;
};

// Parses the arguments after the program name. "" or a one-line problem.
std::string parseReampArguments(int argc, char** argv, ReampOptions& options);
extern const char kReampUsage[];

// What a run did: for the message line, the progress and the benchmark.
struct ReampReport {
    std::string message;  // one line: the problem, or what was written
    std::string output;   // the output path
    int64_t frames = 0;
    int rate = 0;
    bool viaGraph = false;
    double seconds = 0;        // the whole processing loop
    double toolSeconds = 0;    // reading, converting and writing
    double pluginSeconds = 0;  // the plug-in (with the graph: everything but the tool's part)
};

// The whole run; 0 when the output was written, 1 otherwise (report.message says why).
int runReamp(const ReampOptions& options, ReampReport& report);
// Asks a running job to stop (console Ctrl+C); nothing is written.
void requestReampCancel();
bool reampCancelRequested();

// ---------------------------------------------------------------- WAV input

struct WavInput {
    HANDLE file = INVALID_HANDLE_VALUE;
    int formatTag = 0;  // 1 PCM, 3 IEEE float
    int bits = 0;
    int channels = 0;
    int rate = 0;
    int frameBytes = 0;
    int64_t frames = 0;     // frames the take holds
    int64_t framesLeft = 0;    // not yet handed out
    int64_t bytesUnread = 0;   // of the take's data, not yet read from the file
    bool interrupted = false;  // the header did not give the length (a take cut short)
    float pcm16Scale = kCaptureScale;  // 16-bit samples: full scale as the live input takes it
    std::vector<uint8_t> raw;  // file bytes read ahead: few, large reads
    size_t rawStart = 0, rawEnd = 0;
};

// Opens a WAV file and reads its header. "" or the problem, without the path.
std::string openWavInput(const std::string& path, WavInput& in);
// Up to frames frames as interleaved float (full scale +-1): the count read,
// 0 at the end, -1 when the file cannot be read.
int readWavFrames(WavInput& in, float* destination, int frames);
void closeWavInput(WavInput& in);

// ---------------------------------------------------------------- WAV output

struct WavOutput {
    HANDLE file = INVALID_HANDLE_VALUE;
    std::string path;
    std::string workPath;  // written here, renamed to path when finished
    bool isFloat = false;
    int channels = 0;
    int rate = 0;
    int64_t frames = 0;
    std::string problem;       // why the last write failed
    std::vector<uint8_t> pending;  // converted samples gathered for one large write
};

// Creates the work file for a take of the given frames. "" or the problem,
// one line naming the output (as are the problems below).
std::string openWavOutput(const std::string& path, int channels, int rate, bool isFloat, int64_t frames,
                          WavOutput& out);
bool writeWavFrames(WavOutput& out, const float* samples, int frames);
// Writes the header and gives the work file the output's name. "" or the problem.
std::string finishWavOutput(WavOutput& out);
// Closes and deletes the work file (nothing when there is none).
void discardWavOutput(WavOutput& out);

// ---------------------------------------------------------------- the plug-in in its graph

struct ReampJob {
    WavInput in;
    WavOutput out;
    int chunkFrames = 0;
    std::atomic<int64_t> framesDone{0};
    std::atomic<bool> readFailed{false};
    std::atomic<bool> writeFailed{false};
    double toolSeconds = 0;  // written by whichever thread moves the chunks
    HANDLE finished = nullptr;  // set when the sink has the end of the take (or failed)
};

struct ReampGraph {
    IGraphBuilder* graph = nullptr;
    IBaseFilter* source = nullptr;
    IBaseFilter* sink = nullptr;
    IPin* pluginIn = nullptr;
    IPin* pluginOut = nullptr;
    IBaseFilter* plugin = nullptr;  // not owned here
};

// Puts the plug-in between the job's memory source and sink, connected as
// interleaved float at the take's rate and channels. "" or the problem.
std::string buildReampGraph(ReampJob& job, IBaseFilter* plugin, ReampGraph& graph);
// Runs the graph until the sink has the whole take. "" or the problem.
std::string runReampGraph(ReampJob& job, ReampGraph& graph, void (*tick)(void* context), void* context);
void releaseReampGraph(ReampGraph& graph);

double reampClock();
