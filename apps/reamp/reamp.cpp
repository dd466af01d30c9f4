// A re-amping run from the command line to the written file: arguments, the
// output's name, the plug-in (created, registered when missing, its sound
// restored), the chunk loop with its progress line, and one line that says
// what came of it.
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "audio/audio.h"
#include "entry/entry.h"
#include "harnwickamp.h"
#include "hostlaunch.h"
#include "reamp.h"
#include "registration.h"

const char kReampUsage[] =
    "usage: HarnwickReamp <input.wav> [<output.wav>] [--state <file>] [--chunk <frames>] [--float]";

namespace {

std::atomic<bool> g_cancel{false};

void sayOnConsole(const char* text) {
    fputs(text, stdout);
    fflush(stdout);
}

std::string lowerFullPath(const std::string& path) {
    char full[MAX_PATH * 2] = "";
    DWORD length = GetFullPathNameA(path.c_str(), sizeof full, full, nullptr);
    std::string text = length > 0 && length < sizeof full ? std::string(full) : path;
    for (char& c : text) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    return text;
}

// The same file under another spelling (case, a relative path, a link) counts too.
bool sameFile(const std::string& a, const std::string& b) {
    if (lowerFullPath(a) == lowerFullPath(b)) return true;
    BY_HANDLE_FILE_INFORMATION info[2] = {};
    const std::string* paths[2] = {&a, &b};
    for (int i = 0; i < 2; ++i) {
        HANDLE file = CreateFileA(paths[i]->c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, 0, nullptr);
        if (file == INVALID_HANDLE_VALUE) return false;
        BOOL got = GetFileInformationByHandle(file, &info[i]);
        CloseHandle(file);
        if (!got) return false;
    }
    return info[0].dwVolumeSerialNumber == info[1].dwVolumeSerialNumber &&
           info[0].nFileIndexHigh == info[1].nFileIndexHigh && info[0].nFileIndexLow == info[1].nFileIndexLow;
}

// "take.wav" -> "take (reamp).wav"; the extension is what follows the last dot of the file name.
std::string defaultOutputName(const std::string& input) {
    const size_t slash = input.find_last_of("\\/:");
    const size_t dot = input.find_last_of('.');
    const bool hasExtension = dot != std::string::npos && (slash == std::string::npos || dot > slash);
    if (!hasExtension) return input + " (reamp).wav";
    return input.substr(0, dot) + " (reamp)" + input.substr(dot);
}

// The plug-in gets the take as it would get it live with the current
// settings: 16-bit samples scaled as the chosen input scales them, and (unless
// a chunk was asked for) chunks of the chosen device kind's size, halved when
// the wave devices run at twice the rate.
void followLiveInput(const ReampOptions& options, ReampJob& job) {
    const DeviceChoice choice = readDeviceChoice();
    job.in.pcm16Scale = choice.directSound ? kCaptureScale : kWaveInScale;
    job.chunkFrames = options.chunkFrames;
    if (!job.chunkFrames)
        job.chunkFrames = choice.directSound || !choice.resample ? choice.chunkFrames : choice.chunkFrames / 2;
}

std::string oneLine(std::string text) {
    for (char& c : text)
        if (c == '\n' || c == '\r') c = ' ';
    return text;
}

const CLSID& clsidOf(const ReampOptions& options) {
    return options.pluginClass ? *options.pluginClass : CLSID_HarnwickAmp;
}

std::string g_registrationProblem;
void keepRegistrationProblem(const char* text) { g_registrationProblem = oneLine(text); }

std::string hresultText(HRESULT hr) {
    char text[32];
    snprintf(text, sizeof text, "error 0x%08lX", static_cast<unsigned long>(hr));
    return text;
}

// How lines name the plug-in: by its DLL when the class has one registered.
std::string pluginName(const CLSID& clsid) {
    const std::string server = registeredServerPath(clsid);
    return server.empty() ? "The amplifier plug-in" : server;
}

// The plug-in as the live host creates it; registered from beside this program first when missing.
IBaseFilter* createPlugin(const CLSID& clsid, std::string& problem) {
    const std::string folder = moduleFolder(nullptr);
    if (clsid == CLSID_HarnwickAmp && !ensurePluginRegistered(folder, keepRegistrationProblem)) {
        problem = g_registrationProblem;
        return nullptr;
    }
    IBaseFilter* plugin = nullptr;
    HRESULT hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                                  reinterpret_cast<void**>(&plugin));
    if (SUCCEEDED(hr) && plugin) return plugin;
    problem = pluginName(clsid) + ": cannot be created (" + hresultText(hr) + ")";
    return nullptr;
}

// The sound: --state, or the live host's setting file; without either the plug-in keeps its own.
std::string restoreSound(const ReampOptions& options, IBaseFilter* plugin) {
    std::string path = options.statePath;
    if (path.empty()) {
        char defaultPath[256];
        if (defaultSettingPath(defaultPath)) path = defaultPath;
    }
    const SettingFileResult result = loadSettingFile(plugin, path.c_str());
    switch (result) {
    case SETTING_LOADED:
        return "";
    case SETTING_MISSING:
        if (!options.statePath.empty()) return path + ": no such file";
        options.say(("No sound saved by Harnwick Live (" + path + "); the plug-in's initial sound is used.\n").c_str());
        return "";
    case SETTING_FOREIGN:
        return path + ": not a Harnwick Live setting file";
    case SETTING_OTHER_SIZE:
        return path + ": saved by another version of the plug-in; its sound cannot be restored";
    case SETTING_REFUSED:
        return path + ": the plug-in does not take this sound";
    default:
        return path + ": cannot be read, or is cut short";
    }
}

struct Progress {
    const ReampOptions* options;
    ReampJob* job;
    double started;
    double lastShown;
};

void showProgress(void* context) {
    auto* p = static_cast<Progress*>(context);
    if (!p->options->showProgress) return;
    const double now = reampClock();
    if (now - p->lastShown < 0.25) return;
    p->lastShown = now;
    const double done = double(p->job->framesDone);
    const double speed = done / p->job->in.rate / (now - p->started);
    char text[96];
    snprintf(text, sizeof text, "\r%3d %%  %.1f x real time ", int(100.0 * done / double(p->job->in.frames)), speed);
    p->options->say(text);
}

// Direct processing: read, process in place, write, one chunk at a time on this thread.
std::string processDirect(ReampJob& job, IHarnwickAmpDirect* direct, Progress& progress, double& pluginSeconds) {
    std::vector<float> chunk(static_cast<size_t>(job.chunkFrames) * job.in.channels);
    while (!reampCancelRequested()) {
        const double t0 = reampClock();
        const int frames = readWavFrames(job.in, chunk.data(), job.chunkFrames);
        const double t1 = reampClock();
        if (frames < 0) job.readFailed = true;
        if (frames <= 0) break;
        HRESULT hr = direct->processBuffer(chunk.data(), frames, job.in.channels);
        const double t2 = reampClock();
        if (FAILED(hr)) return "failed to process the take (" + hresultText(hr) + ")";
        if (!writeWavFrames(job.out, chunk.data(), frames)) job.writeFailed = true;
        job.toolSeconds += (t1 - t0) + (reampClock() - t2);
        pluginSeconds += t2 - t1;
        if (job.writeFailed) break;
        job.framesDone += frames;
        showProgress(&progress);
    }
    return "";
}

// The take through the plug-in, directly or through the running graph, into the open output.
std::string processTake(const ReampOptions& options, ReampJob& job, IBaseFilter* plugin, ReampGraph& graph,
                        ReampReport& report) {
    Progress progress = {&options, &job, reampClock(), 0.0};
    IHarnwickAmpDirect* direct = nullptr;
    plugin->QueryInterface(IID_IHarnwickAmpDirect, reinterpret_cast<void**>(&direct));
    report.viaGraph = direct == nullptr;
    std::string problem;
    if (direct) {
        problem = processDirect(job, direct, progress, report.pluginSeconds);
        direct->Release();
    } else {
        problem = runReampGraph(job, graph, showProgress, &progress);
    }
    report.seconds = reampClock() - progress.started;
    report.toolSeconds = job.toolSeconds;
    if (report.viaGraph) report.pluginSeconds = report.seconds - job.toolSeconds;
    if (progress.lastShown > 0) options.say("\n");  // the progress line stays above the result
    if (!problem.empty()) return pluginName(clsidOf(options)) + ": " + problem;
    if (job.readFailed) return options.input + ": cannot be read to its end";
    if (job.writeFailed) return job.out.problem;
    if (reampCancelRequested()) return "Stopped; " + job.out.path + " was not written";
    if (job.out.frames != job.in.frames)
        return pluginName(clsidOf(options)) + ": returned less audio than it was given";
    return "";
}

// Everything after the input is open: the plug-in with its sound and graph, the output, the run.
std::string reampWith(const ReampOptions& options, ReampJob& job, ReampReport& report) {
    std::string problem;
    IBaseFilter* plugin = createPlugin(clsidOf(options), problem);
    if (!plugin) return problem;
    ReampGraph graph;
    problem = restoreSound(options, plugin);
    if (problem.empty()) {
        problem = buildReampGraph(job, plugin, graph);
        if (!problem.empty()) problem = pluginName(clsidOf(options)) + ": " + problem;
    }
    if (problem.empty()) {
        problem = openWavOutput(report.output, job.in.channels, job.in.rate, options.floatOutput, job.in.frames,
                                job.out);
        if (problem.empty()) {
            problem = processTake(options, job, plugin, graph, report);
            if (problem.empty()) problem = finishWavOutput(job.out);
            discardWavOutput(job.out);
        }
    }
    releaseReampGraph(graph);
    plugin->Release();
    return problem;
}

}  // namespace

double reampClock() {
    static LARGE_INTEGER frequency = {};
    if (!frequency.QuadPart) QueryPerformanceFrequency(&frequency);
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return double(now.QuadPart) / double(frequency.QuadPart);
}

void requestReampCancel() { g_cancel = true; }
bool reampCancelRequested() { return g_cancel; }

std::string parseReampArguments(int argc, char** argv, ReampOptions& options) {
    std::vector<std::string> files;
    for (int i = 0; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--float") {
            options.floatOutput = true;
        } else if (arg == "--state" || arg == "--chunk") {
            if (i + 1 >= argc) return arg + " needs a value";
            const std::string value = argv[++i];
            if (arg == "--state") {
                options.statePath = value;
                continue;
            }
            char* end = nullptr;
            const long frames = strtol(value.c_str(), &end, 10);
            if (value.empty() || *end || frames < kReampMinChunk || frames > kReampMaxChunk)
                return "--chunk takes a number of frames from 10 to 8192, not \"" + value + "\"";
            options.chunkFrames = static_cast<int>(frames);
        } else if (arg.size() > 1 && arg[0] == '-' && arg[1] == '-') {
            return "unknown option " + arg;
        } else {
            files.push_back(arg);
        }
    }
    if (files.empty()) return "no input file";
    if (files.size() > 2) return "too many files: " + files[2];
    options.input = files[0];
    if (files.size() == 2) options.output = files[1];
    return "";
}

int runReamp(const ReampOptions& given, ReampReport& report) {
    ReampOptions options = given;
    if (!options.say) options.say = sayOnConsole;
    report.output = options.output.empty() ? defaultOutputName(options.input) : options.output;
    if (sameFile(options.input, report.output)) {
        report.message = report.output + ": names the input file; re-amping never overwrites its input";
        return 1;
    }
    ReampJob job;
    std::string problem = openWavInput(options.input, job.in);
    if (!problem.empty()) {
        closeWavInput(job.in);
        report.message = options.input + ": " + problem;
        return 1;
    }
    if (job.in.interrupted) {
        char text[64];
        snprintf(text, sizeof text, "%.1f s", double(job.in.frames) / job.in.rate);
        options.say((options.input + ": the recording was cut short; re-amping the " + text + " it holds.\n").c_str());
    }
    followLiveInput(options, job);
    job.finished = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    report.rate = job.in.rate;
    g_cancel = false;

    HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    problem = reampWith(options, job, report);
    if (SUCCEEDED(com)) CoUninitialize();
    CloseHandle(job.finished);
    closeWavInput(job.in);

    report.frames = job.out.frames;
    if (!problem.empty()) {
        report.message = problem;
        return 1;
    }
    char text[96];
    snprintf(text, sizeof text, " (%.1f s, %.0f x real time%s)", double(job.in.frames) / job.in.rate,
             double(job.in.frames) / job.in.rate / (report.seconds > 0 ? report.seconds : 1e-9),
             report.viaGraph ? ", through the filter graph" : "");
    report.message = "Wrote " + report.output + text;
    return 0;
}
