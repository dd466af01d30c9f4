// Reading a WAV take a chunk at a time: the RIFF chunks up to "data", the
// formats we convert (8, 16, 24, 32-bit PCM and 32-bit float, mono or stereo,
// plain or extensible), and takes whose header never got their length
// because the recording was cut short.
#include <cstring>

#include "audio/audio.h"
#include "reamp.h"

namespace {

const uint32_t kOpenEnded = 0xFFFFFFFFu;
// Read ahead: twice the largest chunk of stereo 32-bit frames, so a chunk
// always fits after what is left of the last read.
const size_t kRawBytes = kReampMaxChunk * 8 * 2;

uint32_t le32(const uint8_t* p) { return p[0] | (p[1] << 8) | (p[2] << 16) | (uint32_t(p[3]) << 24); }
uint16_t le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

bool readExactly(HANDLE file, void* data, DWORD bytes) {
    DWORD got = 0;
    return ReadFile(file, data, bytes, &got, nullptr) && got == bytes;
}

int64_t filePosition(HANDLE file) {
    LARGE_INTEGER zero = {}, at = {};
    SetFilePointerEx(file, zero, &at, FILE_CURRENT);
    return at.QuadPart;
}

bool skipBytes(HANDLE file, int64_t bytes) {
    LARGE_INTEGER distance;
    distance.QuadPart = bytes;
    return SetFilePointerEx(file, distance, nullptr, FILE_CURRENT) != FALSE;
}

// The sub-format of an extensible header names the plain tag in its first two bytes.
int plainTag(const uint8_t* fmt, uint32_t size) {
    int tag = le16(fmt);
    if (tag != 0xFFFE) return tag;
    return size >= 40 && le16(fmt + 16) >= 22 ? le16(fmt + 24) : 0;
}

std::string describeFormat(int tag, int bits, int channels) {
    char text[160];
    if (tag != 1 && tag != 3)
        snprintf(text, sizeof text, "unsupported format: compressed audio (format tag %d)", tag);
    else
        snprintf(text, sizeof text, "unsupported format: %d-bit %s, %d channel%s", bits, tag == 3 ? "float" : "PCM",
                 channels, channels == 1 ? "" : "s");
    return std::string(text) + "; re-amping reads 8, 16, 24 or 32-bit PCM or 32-bit float, mono or stereo";
}

std::string readFormat(WavInput& in, const uint8_t* fmt, uint32_t size) {
    if (size < 16) return "the WAV header is cut short";
    const int tag = plainTag(fmt, size);
    const int channels = le16(fmt + 2);
    const int bits = le16(fmt + 14);
    const bool pcm = tag == 1 && (bits == 8 || bits == 16 || bits == 24 || bits == 32);
    const bool ieee = tag == 3 && bits == 32;
    if (!(pcm || ieee) || channels < 1 || channels > 2 || le16(fmt + 12) != channels * bits / 8)
        return describeFormat(tag, bits, channels);
    in.rate = static_cast<int>(le32(fmt + 4));
    if (in.rate <= 0) return "unsupported format: a sample rate of 0";
    in.formatTag = tag;
    in.bits = bits;
    in.channels = channels;
    in.frameBytes = channels * bits / 8;
    return "";
}

// Walks the chunks after "WAVE" to "data", reading "fmt " on the way; the
// file position is then the first sample.
std::string findData(WavInput& in, uint32_t riffBytes, uint32_t& dataBytes) {
    bool haveFormat = false;
    for (;;) {
        uint8_t head[8];
        if (!readExactly(in.file, head, 8)) return "the WAV header is cut short";
        const uint32_t size = le32(head + 4);
        if (memcmp(head, "data", 4) == 0) {
            if (!haveFormat) return "the WAV header has no format before its data";
            dataBytes = size;
            // A placeholder header (all sizes still open) counts as a take cut short.
            if (size == 0 && (riffBytes <= 36 || riffBytes == kOpenEnded)) dataBytes = kOpenEnded;
            return "";
        }
        if (memcmp(head, "fmt ", 4) == 0) {
            uint8_t fmt[40] = {};
            const uint32_t keep = size < sizeof fmt ? size : sizeof fmt;
            if (!readExactly(in.file, fmt, keep)) return "the WAV header is cut short";
            std::string problem = readFormat(in, fmt, size);
            if (!problem.empty()) return problem;
            haveFormat = true;
            if (!skipBytes(in.file, int64_t(size) - keep + (size & 1))) return "the WAV header is cut short";
        } else if (!skipBytes(in.file, int64_t(size) + (size & 1))) {
            return "the WAV header is cut short";
        }
    }
}

}  // namespace

std::string openWavInput(const std::string& path, WavInput& in) {
    in.file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                          FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (in.file == INVALID_HANDLE_VALUE) {
        DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return "no such file";
        return "cannot be opened (error " + std::to_string(error) + ")";
    }
    LARGE_INTEGER size = {};
    GetFileSizeEx(in.file, &size);
    uint8_t riff[12] = {};
    DWORD got = 0;
    if (!ReadFile(in.file, riff, sizeof riff, &got, nullptr)) return "cannot be read";
    if (got < 4 || memcmp(riff, "RIFF", 4) != 0) return "not a WAV file";
    if (got < 12) return "the WAV header is cut short";
    if (memcmp(riff + 8, "WAVE", 4) != 0) return "not a WAV file (a RIFF file of another kind)";
    uint32_t dataBytes = 0;
    std::string problem = findData(in, le32(riff + 4), dataBytes);
    if (!problem.empty()) return problem;

    const int64_t available = size.QuadPart - filePosition(in.file);
    in.interrupted = dataBytes == kOpenEnded || int64_t(dataBytes) > available;
    const int64_t bytes = in.interrupted ? available : int64_t(dataBytes);
    in.frames = bytes / in.frameBytes;
    in.framesLeft = in.frames;
    in.bytesUnread = in.frames * in.frameBytes;
    if (in.frames == 0) return "the take holds no audio";
    in.raw.resize(kRawBytes);
    return "";
}

namespace {

// Makes bytes of the take available at in.rawStart, reading ahead as far as the buffer allows.
bool fill(WavInput& in, size_t bytes) {
    if (in.rawEnd - in.rawStart >= bytes) return true;
    memmove(in.raw.data(), in.raw.data() + in.rawStart, in.rawEnd - in.rawStart);
    in.rawEnd -= in.rawStart;
    in.rawStart = 0;
    int64_t wanted = int64_t(in.raw.size() - in.rawEnd);
    if (wanted > in.bytesUnread) wanted = in.bytesUnread;
    if (!readExactly(in.file, in.raw.data() + in.rawEnd, static_cast<DWORD>(wanted))) return false;
    in.rawEnd += static_cast<size_t>(wanted);
    in.bytesUnread -= wanted;
    return in.rawEnd >= bytes;
}

}  // namespace

int readWavFrames(WavInput& in, float* destination, int frames) {
    if (frames > kReampMaxChunk) frames = kReampMaxChunk;
    if (frames > in.framesLeft) frames = static_cast<int>(in.framesLeft);
    if (frames <= 0) return 0;
    const size_t bytes = static_cast<size_t>(frames) * in.frameBytes;
    if (!fill(in, bytes)) return -1;
    const uint8_t* p = in.raw.data() + in.rawStart;
    in.rawStart += bytes;
    in.framesLeft -= frames;
    const int count = frames * in.channels;
    switch (in.formatTag == 3 ? 0 : in.bits) {
    case 0:
        memcpy(destination, p, bytes);
        break;
    case 8:
        for (int i = 0; i < count; ++i) destination[i] = (int(p[i]) - 128) * (1.0f / 128.0f);
        break;
    case 16:
        // Windows runs little-endian: the file's samples are the machine's.
        pcm16ToFloat(reinterpret_cast<const int16_t*>(p), destination, count, in.pcm16Scale);
        break;
    case 24:
        for (int i = 0; i < count; ++i) {
            const int32_t v = int32_t(uint32_t(p[3 * i]) << 8 | uint32_t(p[3 * i + 1]) << 16 | uint32_t(p[3 * i + 2]) << 24);
            destination[i] = float((v >> 8) * (1.0 / 8388608.0));
        }
        break;
    default:
        for (int i = 0; i < count; ++i) destination[i] = float(int32_t(le32(p + 4 * i)) * (1.0 / 2147483648.0));
        break;
    }
    return frames;
}

void closeWavInput(WavInput& in) {
    if (in.file != INVALID_HANDLE_VALUE) CloseHandle(in.file);
    in.file = INVALID_HANDLE_VALUE;
}
