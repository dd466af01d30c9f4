// Re-amping in this process: every input format through a pass-through plug-in,
// bad inputs, and the amplifier's direct and graph paths with a saved sound.
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "entry/entry.h"
#include "harnwickamp.h"
#include "passthrough.h"
#include "pluginswap.h"
#include "reamp.h"
#include "registration.h"
#include "settings/settings.h"
#include "support/testenv.h"  // windows.h before mmreg.h

#include <mmreg.h>

namespace {

using Bytes = std::vector<uint8_t>;

struct Format {
    int tag;  // 1 PCM, 3 float, 0xFFFE extensible
    int bits;
    int sub = 0;  // extensible: the plain tag its sub-format names
};

// A WAV file's bytes: "fmt " (16 or 40 bytes), a "LIST" chunk of odd size before
// the data as other programs write it, and the data with the given size field.
Bytes wavFile(Format f, int channels, int rate, const Bytes& data, int64_t dataField = -1) {
    const uint32_t size = dataField < 0 ? uint32_t(data.size()) : uint32_t(dataField);
    const uint32_t riff = size == 0xFFFFFFFFu ? size : size + 36, fmtBytes = f.tag == 0xFFFE ? 40 : 16;
    const uint32_t list = 7;  // an odd size: the pad byte RIFF asks for follows
    const WORD block = WORD(channels * f.bits / 8);
    WAVEFORMATEXTENSIBLE fmt = {};
    fmt.Format = {WORD(f.tag), WORD(channels), DWORD(rate), DWORD(rate) * block, block, WORD(f.bits), 22};
    fmt.Samples.wValidBitsPerSample = WORD(f.bits);
    fmt.dwChannelMask = channels == 1 ? 4 : 3;
    fmt.SubFormat = {DWORD(f.sub), 0, 0x10, {0x80, 0, 0, 0xAA, 0, 0x38, 0x9B, 0x71}};
    const std::pair<const void*, size_t> parts[] = {
        {"RIFF", 4}, {&riff, 4}, {"WAVEfmt ", 8},       {&fmtBytes, 4}, {&fmt, fmtBytes},
        {"LIST", 4}, {&list, 4}, {"INFOabc\0data", 12}, {&size, 4},     {data.data(), data.size()}};
    Bytes b;
    for (const auto& part : parts) {
        const uint8_t* bytes = static_cast<const uint8_t*>(part.first);
        b.insert(b.end(), bytes, bytes + part.second);
    }
    return b;
}

void writeBytes(const std::string& path, const Bytes& bytes) {
    FILE* file = fopen(path.c_str(), "wb");
    ASSERT_TRUE(file) << path;
    fwrite(bytes.data(), 1, bytes.size(), file);
    fclose(file);
}

bool exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// Our own output: the 44-byte header (its tag, channels, rate), then the samples.
struct Output {
    int tag = 0, channels = 0, rate = 0;
    Bytes data;
};
Output readOutput(const std::string& path) {
    const std::vector<unsigned char> b = readFileBytes(path);
    if (b.size() < 44) return {};
    uint32_t fields[6];  // tag and channels, rate, ..., data bytes
    memcpy(fields, &b[20], sizeof fields);
    EXPECT_EQ(b.size() - 44, fields[5]) << "the header gives the exact length";
    return {int(fields[0] & 0xFFFF), int(fields[0] >> 16), int(fields[1]), Bytes(b.begin() + 44, b.end())};
}

std::vector<std::string> g_said;
void collect(const char* text) { g_said.push_back(text); }

class ReampTest : public HarnwickTest {
protected:
    void SetUp() override {
        HarnwickTest::SetUp();
        ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
        passThrough_ = new PassThroughRegistration;
        ASSERT_TRUE(passThrough_->ok());
        char path[256];
        ASSERT_TRUE(defaultSettingPath(path));
        liveSetting_ = path;
        DeleteFileA(liveSetting_.c_str());
        g_said.clear();
    }
    void TearDown() override {
        DeleteFileA(liveSetting_.c_str());
        PassThroughFilter::refuseTypes = false;
        delete passThrough_;
        CoUninitialize();
        HarnwickTest::TearDown();
    }

    // Runs the tool as its command line asks; the pass-through plug-in unless amp is set.
    int reamp(const std::vector<std::string>& args, ReampReport& report, bool amp = false) {
        std::vector<char*> argv;
        for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        ReampOptions options;
        EXPECT_EQ("", parseReampArguments(int(argv.size()), argv.data(), options));
        if (!amp) options.pluginClass = &CLSID_TestPassThrough;
        options.say = collect;
        options.showProgress = true;  // as on a console
        return runReamp(options, report);
    }

    PassThroughRegistration* passThrough_ = nullptr;
    std::string liveSetting_;
};

TEST_F(ReampTest, EveryInputFormatReachesThePluginAtFullScale) {
    struct Case {
        Format format;
        std::vector<int64_t> raw;  // four sample values as stored
        float expected[4];
        bool waveIn = false;  // the live input's sound system: 16-bit takes are scaled as it scales them
    } cases[] = {
        {{1, 8}, {0, 128, 192, 255}, {-1.0f, 0.0f, 0.5f, 127.0f / 128}},
        // DirectSoundCapture takes 32767 as full scale, the wave API 33000.
        {{1, 16}, {-32768, 0, 16384, 32767}, {-32768.0f / 32767, 0.0f, 16384.0f / 32767, 1.0f}},
        {{1, 16}, {-16500, 0, 16500, 3300}, {-0.5f, 0.0f, 0.5f, 0.1f}, true},
        {{1, 24}, {-8388608, 0, 4194304, 8388607}, {-1.0f, 0.0f, 0.5f, 8388607.0f / 8388608}},
        {{0xFFFE, 24, 1}, {-8388608, 1, 4194304, -4194304}, {-1.0f, 1.0f / 8388608, 0.5f, -0.5f}},
        {{1, 32}, {INT32_MIN, 0, 1 << 30, -(1 << 29)}, {-1.0f, 0.0f, 0.5f, -0.25f}},
        {{3, 32}, {0xBF800000, 0, 0x3F000000, 0x3E800000}, {-1.0f, 0.0f, 0.5f, 0.25f}},
        {{0xFFFE, 32, 3}, {0x3F000000, 0xBF000000, 0, 0x3E800000}, {0.5f, -0.5f, 0.0f, 0.25f}},
    };
    const int rates[] = {8000, 44100, 96000};
    int run = 0;
    for (const Case& c : cases) {
        writeSettingFlag("USE_DIRECTX", !c.waveIn);
        for (int channels = 1; channels <= 2; ++channels) {
            SCOPED_TRACE(testing::Message()
                         << "tag " << c.format.tag << ", " << c.format.bits << " bits, " << channels << " channels");
            Bytes data;
            for (int64_t v : c.raw)
                for (int byte = 0; byte < c.format.bits / 8; ++byte) data.push_back(uint8_t(v >> (8 * byte)));
            const int rate = rates[run++ % 3];
            writeBytes(tempPath("take.wav"), wavFile(c.format, channels, rate, data));
            ReampReport report;
            ASSERT_EQ(0, reamp({tempPath("take.wav"), "--float"}, report)) << report.message;
            Output out = readOutput(tempPath("take (reamp).wav"));
            EXPECT_EQ(3, out.tag);
            EXPECT_EQ(channels, out.channels);
            EXPECT_EQ(rate, out.rate);
            ASSERT_EQ(16u, out.data.size());
            float floats[4];
            memcpy(floats, out.data.data(), sizeof floats);
            for (int i = 0; i < 4; ++i) EXPECT_FLOAT_EQ(c.expected[i], floats[i]) << "sample " << i;
        }
    }
}

TEST_F(ReampTest, ATakeCutShortIsReampedToItsLastWholeFrame) {
    const Bytes frames(4 * 1000 + 3, 0x11);  // 1000 stereo 16-bit frames and a cut one
    // The open-ended header of a live take, a placeholder never completed, a header longer than the file.
    for (uint32_t dataField : {0xFFFFFFFFu, 0u, 4u * 5000}) {
        SCOPED_TRACE(dataField);
        g_said.clear();
        writeBytes(tempPath("cut.wav"), wavFile({1, 16}, 2, 44100, frames, dataField));
        ReampReport report;
        ASSERT_EQ(0, reamp({tempPath("cut.wav")}, report)) << report.message;
        EXPECT_EQ(4000u, readOutput(tempPath("cut (reamp).wav")).data.size());
        ASSERT_FALSE(g_said.empty());
        EXPECT_NE(std::string::npos, g_said[0].find("cut short")) << g_said[0];
    }
}

// Ctrl+C while the take is on its way, here at the note that no sound was saved.
void cancelAtOnce(const char*) { requestReampCancel(); }

TEST_F(ReampTest, BadInputsGiveOneLineAndLeaveNoOutput) {
    const Bytes zeros(240, 0), good = wavFile({1, 16}, 1, 44100, zeros), none;
    Bytes cutHeader = good;
    cutHeader.resize(30);
    writeBytes(tempPath("foreign state"), Bytes(40, 'x'));
    writeBytes(tempPath("good.wav"), good);
    static const CLSID kNobody = {0x1d2c3b4a, 1, 2, {3, 4, 5, 6, 7, 8, 9, 10}};
    const char* const kPlugin = "The amplifier plug-in";
    struct Case {
        const char* input;  // in the test folder, with these bytes (none: missing)
        Bytes bytes;
        const char *output, *state;  // in the test folder; "" for the default
        const char* said;
        const char* named;  // what the line starts with
        const CLSID* plugin = &CLSID_TestPassThrough;
        bool refuse = false, cancel = false;
    } cases[] = {
        {"missing.wav", none, "", "", "no such file", "missing.wav"},
        {"text.wav", {'h', 'e', 'l', 'l', 'o'}, "", "", "not a WAV file", "text.wav"},
        {"12bit.wav", wavFile({1, 12}, 1, 44100, zeros), "", "", "unsupported format: 12-bit PCM", "12bit.wav"},
        {"adpcm.wav", wavFile({2, 4}, 1, 44100, zeros), "", "", "unsupported format: compressed", "adpcm.wav"},
        {"surround.wav", wavFile({1, 16}, 6, 44100, zeros), "", "", "6 channels", "surround.wav"},
        {"empty.wav", wavFile({1, 16}, 1, 44100, none), "", "", "holds no audio", "empty.wav"},
        {"cutheader.wav", cutHeader, "", "", "cut short", "cutheader.wav"},
        {"good.wav", good, "GOOD.WAV", "", "names the input file", "GOOD.WAV"},
        {"good.wav", good, "no folder\\out.wav", "", "cannot be written", "out.wav"},
        {"good.wav", good, "", "", "refuses 44100 Hz mono", kPlugin, &CLSID_TestPassThrough, true},
        {"good.wav", good, "", "", "cannot be created", kPlugin, &kNobody},
        {"good.wav", good, "", "foreign state", "not a Harnwick Live setting file", "foreign state",
         &CLSID_HarnwickAmp},
        {"good.wav", good, "", "no state", "no such file", "no state", &CLSID_HarnwickAmp},
        {"good.wav", good, "", "", "Stopped", "Stopped", &CLSID_TestPassThrough, false, true},
    };
    const std::string earlier = tempPath("good (reamp).wav");
    const auto inFolder = [&](const char* name) { return *name ? tempPath(name) : std::string(); };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.said);
        if (!c.bytes.empty()) writeBytes(tempPath(c.input), c.bytes);
        writeBytes(earlier, {'o', 'l', 'd'});  // an earlier re-amp stays until a new one is whole
        PassThroughFilter::refuseTypes = c.refuse;
        ReampOptions options;
        options.input = tempPath(c.input);
        options.output = inFolder(c.output);
        options.statePath = inFolder(c.state);
        options.pluginClass = c.plugin;
        options.say = c.cancel ? cancelAtOnce : collect;
        ReampReport report;
        EXPECT_EQ(1, runReamp(options, report));
        EXPECT_NE(std::string::npos, report.message.find(c.said)) << report.message;
        EXPECT_LT(report.message.find(c.named), report.message.find(": ")) << report.message;
        const std::string output =
            *c.output ? options.output : tempPath(std::string(c.input).substr(0, strlen(c.input) - 4) + " (reamp).wav");
        if (output != earlier && strcmp(c.output, "GOOD.WAV") != 0) {
            EXPECT_FALSE(exists(output)) << output;
        }
        EXPECT_FALSE(exists(output + ".reamp-work"));
        EXPECT_EQ(std::vector<unsigned char>({'o', 'l', 'd'}), readFileBytes(earlier));
        EXPECT_EQ(std::vector<unsigned char>(good.begin(), good.end()), readFileBytes(tempPath("good.wav")));
    }
}

TEST_F(ReampTest, TheAmpSoundsTheSameDirectAndThroughTheGraphWithTheSavedSound) {
    std::vector<int16_t> pluck;  // a second of a decaying plucked tone, 16-bit stereo
    for (int i = 0; i < 44100; ++i) {
        const double v = 0.6 * exp(-i / 15000.0) * sin(i * 2 * 3.14159265 * 110 / 44100);
        pluck.insert(pluck.end(), {int16_t(v * 32767), int16_t(-v * 16000)});
    }
    const std::string take = tempPath("pluck.wav");
    const uint8_t* bytes = reinterpret_cast<const uint8_t*>(pluck.data());
    writeBytes(take, wavFile({1, 16}, 2, 44100, Bytes(bytes, bytes + 2 * pluck.size())));
    ReampReport report;
    {
        PluginClassSwap unregistered("");
        ASSERT_EQ(S_OK, unregistered.result());
        ASSERT_EQ(0, reamp({take, tempPath("initial.wav")}, report, true)) << report.message;
        EXPECT_TRUE(isClassRegistered(CLSID_HarnwickAmp)) << "the plug-in beside the program was registered";
    }
    EXPECT_FALSE(report.viaGraph);
    ASSERT_FALSE(g_said.empty());
    EXPECT_NE(std::string::npos, g_said[0].find("No sound saved")) << "without a saved sound the user is told";

    {  // The live host's setting file, with the drive turned up.
        IBaseFilter* amp = nullptr;
        ASSERT_EQ(S_OK, CoCreateInstance(CLSID_HarnwickAmp, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                                         reinterpret_cast<void**>(&amp)));
        IHarnwickAmpDirect* direct = nullptr;
        ASSERT_EQ(S_OK, amp->QueryInterface(IID_IHarnwickAmpDirect, reinterpret_cast<void**>(&direct)));
        direct->setParameter(1, 9.0f);
        direct->Release();
        ASSERT_EQ(1, saveDefaultSetting(amp));
        amp->Release();
    }
    // The chunk is the one the live host processes: half the wave devices' chunk while they run at
    // twice the rate. The first progress line tells it: 512 of the take's 44100 frames are 1 %.
    writeSettingText("chunks_wave", "1024");
    g_said.clear();
    ASSERT_EQ(0, reamp({take, tempPath("direct.wav")}, report, true)) << report.message;
    EXPECT_FALSE(report.viaGraph);
    ASSERT_FALSE(g_said.empty());
    EXPECT_EQ(0u, g_said[0].find("\r  1 %  ")) << g_said[0];
    {
        PluginClassSwap swap(kNoDirectPlugin);
        ASSERT_EQ(S_OK, swap.result());
        // The same sound, kept in a file of the user's own.
        ASSERT_TRUE(MoveFileA(liveSetting_.c_str(), tempPath("my sound").c_str()));
        const std::vector<std::string> args = {take,      tempPath("graph.wav"), "--chunk", "333",
                                               "--state", tempPath("my sound")};
        ASSERT_EQ(0, reamp(args, report, true)) << report.message;
        EXPECT_TRUE(report.viaGraph);
    }
    const Bytes direct = readOutput(tempPath("direct.wav")).data;
    ASSERT_EQ(44100u * 4, direct.size());
    EXPECT_TRUE(direct == readOutput(tempPath("graph.wav")).data) << "the same take, sample for sample";
    EXPECT_FALSE(direct == readOutput(tempPath("initial.wav")).data) << "the saved sound was used";
}

}  // namespace
