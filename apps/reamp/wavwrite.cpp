// Writing the re-amped take: 16-bit PCM converted exactly as the live host
// converts its output, or 32-bit float. The samples go into a work file
// beside the output; only the finished take is given the output's name, so
// an output that already exists stays as it was until then.
#include <cstring>

#include "audio/audio.h"
#include "reamp.h"
#include "recording/recording.h"

namespace {

const uint32_t kMaxDataBytes = 0xFFFFFFFFu - 36;
// Converted samples are written in blocks of this size: few, large writes.
const size_t kPendingBytes = kReampMaxChunk * 8 * 2;

std::string systemText(DWORD error) {
    char text[256] = "";
    DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0, text,
                                  sizeof text, nullptr);
    while (length > 0 && (text[length - 1] == '\n' || text[length - 1] == '\r' || text[length - 1] == '.'))
        text[--length] = '\0';
    if (length == 0) snprintf(text, sizeof text, "error %lu", error);
    return text;
}

bool writeAll(HANDLE file, const void* data, DWORD bytes) {
    DWORD written = 0;
    return WriteFile(file, data, bytes, &written, nullptr) && written == bytes;
}

std::string cannotWrite(const WavOutput& out, DWORD error) {
    return out.path + ": cannot be written (" + systemText(error) + ")";
}

bool flush(WavOutput& out) {
    const bool written = writeAll(out.file, out.pending.data(), static_cast<DWORD>(out.pending.size()));
    if (!written) out.problem = cannotWrite(out, GetLastError());
    out.pending.clear();
    return written;
}

}  // namespace

std::string openWavOutput(const std::string& path, int channels, int rate, bool isFloat, int64_t frames,
                          WavOutput& out) {
    out.path = path;
    out.workPath = path + ".reamp-work";
    out.isFloat = isFloat;
    out.channels = channels;
    out.rate = rate;
    out.frames = 0;
    if (frames * channels * (isFloat ? 4 : 2) > int64_t(kMaxDataBytes))
        return path + ": cannot be written (the take is longer than a WAV file can hold)";
    out.file = CreateFileA(out.workPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                           nullptr);
    if (out.file == INVALID_HANDLE_VALUE) return cannotWrite(out, GetLastError());
    uint8_t placeholder[kWaveHeaderBytes] = {};
    if (!writeAll(out.file, placeholder, sizeof placeholder)) {
        std::string problem = cannotWrite(out, GetLastError());
        discardWavOutput(out);
        return problem;
    }
    out.pending.reserve(kPendingBytes);
    return "";
}

bool writeWavFrames(WavOutput& out, const float* samples, int frames) {
    const size_t count = static_cast<size_t>(frames) * out.channels;
    const size_t bytes = count * (out.isFloat ? 4 : 2);
    if (out.pending.size() + bytes > kPendingBytes && !flush(out)) return false;
    const size_t at = out.pending.size();
    out.pending.resize(at + bytes);
    if (out.isFloat)
        memcpy(out.pending.data() + at, samples, bytes);
    else
        floatToPcm16(samples, reinterpret_cast<int16_t*>(out.pending.data() + at), static_cast<int>(count), 1.0f);
    out.frames += frames;
    return true;
}

std::string finishWavOutput(WavOutput& out) {
    if (!flush(out)) {
        discardWavOutput(out);
        return out.problem;
    }
    uint8_t header[kWaveHeaderBytes];
    if (out.isFloat)
        buildWaveHeaderAs(header, 3 /* IEEE float */, 32, out.channels, out.rate, static_cast<uint32_t>(out.frames));
    else
        buildWaveHeader(header, out.channels, out.rate, static_cast<uint32_t>(out.frames));
    LARGE_INTEGER start = {};
    bool done = SetFilePointerEx(out.file, start, nullptr, FILE_BEGIN) && writeAll(out.file, header, sizeof header);
    done = CloseHandle(out.file) && done;
    out.file = INVALID_HANDLE_VALUE;
    if (done) done = MoveFileExA(out.workPath.c_str(), out.path.c_str(), MOVEFILE_REPLACE_EXISTING) != FALSE;
    if (done) return "";
    std::string problem = cannotWrite(out, GetLastError());
    discardWavOutput(out);
    return problem;
}

void discardWavOutput(WavOutput& out) {
    if (out.file != INVALID_HANDLE_VALUE) CloseHandle(out.file);
    out.file = INVALID_HANDLE_VALUE;
    if (!out.workPath.empty()) DeleteFileA(out.workPath.c_str());
}
