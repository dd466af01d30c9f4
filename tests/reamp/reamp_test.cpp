// Re-amping in this process: every input format through a pass-through
// plug-in (the graph path), takes cut short, every bad input with its one
// line and no output left behind, and the amplifier's direct and graph paths
// with the sound the live host saved.
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
#include "support/testenv.h"

namespace {

struct Format {
    int tag;  // 1 PCM, 3 float, 0xFFFE extensible
    int bits;
    int sub = 0;  // extensible: the plain tag its sub-format names
};

void put16(std::vector<uint8_t>& b, uint32_t v) {
    b.push_back(uint8_t(v));
    b.push_back(uint8_t(v >> 8));
}
void put32(std::vector<uint8_t>& b, uint32_t v) {
    put16(b, v & 0xFFFF);
    put16(b, v >> 16);
}
void putText(std::vector<uint8_t>& b, const char* text) { b.insert(b.end(), text, text + strlen(text)); }

// A WAV file's bytes: "fmt " (16 or 40 bytes), a "LIST" chunk of odd size before
// the data as other programs write it, and the data with the given size field.
std::vector<uint8_t> wavFile(Format f, int channels, int rate, const std::vector<uint8_t>& data,
                             uint32_t dataField, uint32_t riffField) {
    const bool extensible = f.tag == 0xFFFE;
    std::vector<uint8_t> b;
    putText(b, "RIFF");
    put32(b, riffField);
    putText(b, "WAVEfmt ");
    put32(b, extensible ? 40 : 16);
    put16(b, f.tag);
    put16(b, channels);
    put32(b, rate);
    put32(b, rate * channels * f.bits / 8);
    put16(b, channels * f.bits / 8);
    put16(b, f.bits);
    if (extensible) {
        put16(b, 22);
        put16(b, f.bits);
        put32(b, channels == 1 ? 4 : 3);
        put32(b, f.sub);
        const uint8_t audioBase[12] = {0x00, 0x00, 0x10, 0x00, 0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
        b.insert(b.end(), audioBase, audioBase + 12);
    }
    putText(b, "LIST");
    put32(b, 7);  // an odd size: the pad byte RIFF asks for follows
    putText(b, "INFOabc");
    b.push_back(0);
    putText(b, "data");
    put32(b, dataField);
    b.insert(b.end(), data.begin(), data.end());
    return b;
}

std::vector<uint8_t> wavFile(Format f, int channels, int rate, const std::vector<uint8_t>& data) {
    return wavFile(f, channels, rate, data, uint32_t(data.size()), uint32_t(data.size() + 36));
}

void writeBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    FILE* file = fopen(path.c_str(), "wb");
    ASSERT_TRUE(file) << path;
    fwrite(bytes.data(), 1, bytes.size(), file);
    fclose(file);
}

bool exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

struct Output {
    int tag = 0, channels = 0, rate = 0;
    std::vector<float> floats;
    std::vector<int16_t> pcm;
};

// Our own output: the 44-byte header, then the samples.
Output readOutput(const std::string& path) {
    Output o;
    std::vector<unsigned char> b = readFileBytes(path);
    if (b.size() < 44) return o;
    o.tag = b[20] | b[21] << 8;
    o.channels = b[22] | b[23] << 8;
    memcpy(&o.rate, &b[24], 4);
    uint32_t dataBytes;
    memcpy(&dataBytes, &b[40], 4);
    EXPECT_EQ(b.size() - 44, dataBytes) << "the header gives the exact length";
    if (o.tag == 3) {
        o.floats.resize((b.size() - 44) / 4);
        memcpy(o.floats.data(), &b[44], o.floats.size() * 4);
    } else {
        o.pcm.resize((b.size() - 44) / 2);
        memcpy(o.pcm.data(), &b[44], o.pcm.size() * 2);
    }
    return o;
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

    // Runs the tool on input; the pass-through plug-in unless amp is set.
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

    // A second of a decaying plucked tone, 16-bit stereo at 44100 Hz.
    std::string pluckedTake() {
        std::vector<uint8_t> data;
        for (int i = 0; i < 44100; ++i) {
            const double v = 0.6 * exp(-i / 15000.0) * sin(i * 2 * 3.14159265 * 110 / 44100);
            put16(data, uint16_t(int16_t(v * 32767)));
            put16(data, uint16_t(int16_t(-v * 16000)));
        }
        std::string path = tempPath("pluck.wav");
        writeBytes(path, wavFile({1, 16}, 2, 44100, data));
        return path;
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
            SCOPED_TRACE(testing::Message() << "tag " << c.format.tag << ", " << c.format.bits << " bits, "
                                            << channels << " channels");
            std::vector<uint8_t> data;
            for (int64_t v : c.raw)
                for (int byte = 0; byte < c.format.bits / 8; ++byte) data.push_back(uint8_t(v >> (8 * byte)));
            const int rate = rates[run++ % 3];
            std::string in = tempPath("take.wav");
            writeBytes(in, wavFile(c.format, channels, rate, data));
            ReampReport report;
            ASSERT_EQ(0, reamp({in, "--float"}, report)) << report.message;
            EXPECT_TRUE(report.viaGraph);
            Output out = readOutput(tempPath("take (reamp).wav"));
            EXPECT_EQ(3, out.tag);
            EXPECT_EQ(channels, out.channels);
            EXPECT_EQ(rate, out.rate);
            ASSERT_EQ(4u, out.floats.size());
            for (int i = 0; i < 4; ++i) EXPECT_FLOAT_EQ(c.expected[i], out.floats[i]) << "sample " << i;
        }
    }
}

TEST_F(ReampTest, SixteenBitOutputIsConvertedAsTheLiveHostConvertsItsOutput) {
    std::vector<uint8_t> data;
    for (uint32_t bits : {0xBF800000u, 0x3F000000u, 0x3F800000u, 0x3DCCCCCDu}) put32(data, bits);
    writeBytes(tempPath("f.wav"), wavFile({3, 32}, 2, 48000, data));
    ReampReport report;
    ASSERT_EQ(0, reamp({tempPath("f.wav"), tempPath("sixteen.wav"), "--chunk", "10"}, report)) << report.message;
    Output out = readOutput(tempPath("sixteen.wav"));
    EXPECT_EQ(1, out.tag);
    EXPECT_EQ(std::vector<int16_t>({-32765, 16383, 32766, 3276}), out.pcm) << "clamped, truncated toward zero";
}

TEST_F(ReampTest, ATakeCutShortIsReampedToItsLastWholeFrame) {
    std::vector<uint8_t> frames(4 * 1000 + 3, 0x11);  // 1000 stereo 16-bit frames and a cut one
    struct Case {
        const char* what;
        uint32_t dataField, riffField;
    } cases[] = {
        {"open-ended header of a live take", 0xFFFFFFFFu, 0xFFFFFFFFu},
        {"placeholder header never completed", 0, 36},
        {"header longer than the file", 4 * 5000, 4 * 5000 + 36},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        g_said.clear();
        writeBytes(tempPath("cut.wav"), wavFile({1, 16}, 2, 44100, frames, c.dataField, c.riffField));
        ReampReport report;
        ASSERT_EQ(0, reamp({tempPath("cut.wav")}, report)) << report.message;
        EXPECT_EQ(2000u, readOutput(tempPath("cut (reamp).wav")).pcm.size());
        ASSERT_FALSE(g_said.empty());
        EXPECT_NE(std::string::npos, g_said[0].find("cut short")) << g_said[0];
    }
}

TEST_F(ReampTest, BadInputsGiveOneLineAndLeaveNoOutput) {
    const std::string good = tempPath("good.wav");
    const std::vector<uint8_t> goodBytes = wavFile({1, 16}, 1, 44100, std::vector<uint8_t>(200, 0));
    writeBytes(good, goodBytes);
    writeBytes(tempPath("text.wav"), std::vector<uint8_t>{'h', 'e', 'l', 'l', 'o'});
    writeBytes(tempPath("12bit.wav"), wavFile({1, 12}, 1, 44100, std::vector<uint8_t>(200, 0)));
    writeBytes(tempPath("adpcm.wav"), wavFile({2, 4}, 1, 44100, std::vector<uint8_t>(200, 0)));
    writeBytes(tempPath("double.wav"), wavFile({3, 64}, 1, 44100, std::vector<uint8_t>(200, 0)));
    writeBytes(tempPath("surround.wav"), wavFile({1, 16}, 6, 44100, std::vector<uint8_t>(240, 0)));
    writeBytes(tempPath("empty.wav"), wavFile({1, 16}, 1, 44100, {}));
    std::vector<uint8_t> cut = wavFile({1, 16}, 1, 44100, {});
    cut.resize(30);
    writeBytes(tempPath("cutheader.wav"), cut);
    writeBytes(tempPath("foreign state"), std::vector<uint8_t>(40, 'x'));

    static const CLSID kNobody = {0x1d2c3b4a, 1, 2, {3, 4, 5, 6, 7, 8, 9, 10}};
    const char* const kPlugin = "The amplifier plug-in";
    struct Case {
        std::string input, output, state;
        const char* said;
        const char* named;  // what the line starts with
        const CLSID* plugin = nullptr;
        bool refuse = false;
    } cases[] = {
        {tempPath("missing.wav"), "", "", "no such file", "missing.wav"},
        {tempPath("text.wav"), "", "", "not a WAV file", "text.wav"},
        {tempPath("12bit.wav"), "", "", "unsupported format: 12-bit PCM", "12bit.wav"},
        {tempPath("adpcm.wav"), "", "", "unsupported format: compressed", "adpcm.wav"},
        {tempPath("double.wav"), "", "", "unsupported format: 64-bit float", "double.wav"},
        {tempPath("surround.wav"), "", "", "6 channels", "surround.wav"},
        {tempPath("empty.wav"), "", "", "holds no audio", "empty.wav"},
        {tempPath("cutheader.wav"), "", "", "cut short", "cutheader.wav"},
        {good, tempPath("GOOD.WAV"), "", "names the input file", "GOOD.WAV"},
        {good, tempPath("no folder\\out.wav"), "", "cannot be written", "out.wav"},
        {good, "", "", "refuses 44100 Hz mono", kPlugin, nullptr, true},
        {good, "", "", "cannot be created", kPlugin, &kNobody},
        {good, "", tempPath("foreign state"), "not a Harnwick Live setting file", "foreign state", &CLSID_HarnwickAmp},
        {good, "", tempPath("no state"), "no such file", "no state", &CLSID_HarnwickAmp},
    };
    const std::string earlier = tempPath("good (reamp).wav");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.said);
        PassThroughFilter::refuseTypes = c.refuse;
        writeBytes(earlier, {'o', 'l', 'd'});  // an earlier re-amp stays until a new one is whole
        ReampOptions options;
        options.input = c.input;
        options.output = c.output;
        options.statePath = c.state;
        options.pluginClass = c.plugin ? c.plugin : &CLSID_TestPassThrough;
        options.say = collect;
        ReampReport report;
        EXPECT_EQ(1, runReamp(options, report));
        EXPECT_NE(std::string::npos, report.message.find(c.said)) << report.message;
        EXPECT_EQ(std::string::npos, report.message.find('\n')) << report.message;
        EXPECT_LT(report.message.find(c.named), report.message.find(": ")) << report.message;
        const std::string output = c.output.empty() ? c.input.substr(0, c.input.size() - 4) + " (reamp).wav" : c.output;
        if (output != earlier && c.output != tempPath("GOOD.WAV")) {
            EXPECT_FALSE(exists(output)) << output;
        }
        EXPECT_FALSE(exists(output + ".reamp-work"));
        EXPECT_EQ(std::vector<unsigned char>({'o', 'l', 'd'}), readFileBytes(earlier));
        EXPECT_EQ(std::vector<unsigned char>(goodBytes.begin(), goodBytes.end()), readFileBytes(good));
    }
}

TEST_F(ReampTest, TheAmpSoundsTheSameDirectAndThroughTheGraphWithTheSavedSound) {
    const std::string take = pluckedTake();
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
    g_said.clear();
    ASSERT_EQ(0, reamp({take, tempPath("direct.wav")}, report, true)) << report.message;
    EXPECT_FALSE(report.viaGraph);
    ASSERT_GE(g_said.size(), 2u);
    EXPECT_EQ(0u, g_said[0].find("\r  0 %  ")) << g_said[0];
    EXPECT_NE(std::string::npos, g_said[0].find(" x real time")) << g_said[0];
    EXPECT_EQ("\n", g_said.back()) << "the progress line is ended before the result";
    {
        PluginClassSwap swap(kNoDirectPlugin);
        ASSERT_EQ(S_OK, swap.result());
        // The same sound, kept in a file of the user's own.
        ASSERT_TRUE(MoveFileA(liveSetting_.c_str(), tempPath("my sound").c_str()));
        ASSERT_EQ(0, reamp({take, tempPath("graph.wav"), "--chunk", "333", "--state", tempPath("my sound")}, report,
                           true))
            << report.message;
        EXPECT_TRUE(report.viaGraph);
    }
    Output initial = readOutput(tempPath("initial.wav"));
    Output direct = readOutput(tempPath("direct.wav"));
    Output graph = readOutput(tempPath("graph.wav"));
    ASSERT_EQ(88200u, direct.pcm.size());
    EXPECT_TRUE(direct.pcm == graph.pcm) << "the same take, sample for sample";
    EXPECT_FALSE(direct.pcm == initial.pcm) << "the saved sound was used";
}

// Ctrl+C while the take is on its way: nothing is written.
void cancelAtOnce(const char*) { requestReampCancel(); }

TEST_F(ReampTest, AStoppedRunWritesNothing) {
    const std::string take = pluckedTake();
    ReampOptions options;
    options.input = take;
    options.pluginClass = &CLSID_TestPassThrough;
    options.say = cancelAtOnce;  // called with the note that no sound was saved, before the first chunk
    ReampReport report;
    EXPECT_EQ(1, runReamp(options, report));
    EXPECT_EQ(0u, report.message.find("Stopped")) << report.message;
    EXPECT_FALSE(exists(report.output)) << report.output;
    EXPECT_FALSE(exists(report.output + ".reamp-work"));
}

}  // namespace
