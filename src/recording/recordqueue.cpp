// The recording queue: a take's appends from the audio thread go into a ring
// allocated at open, and a writer thread of the queue's own moves them to the
// file, so the audio thread never waits on the disk.
//
// One producer (the stream's audio thread) and one consumer (the writer): the
// producer alone advances `appended`, the writer alone advances `stored`; each
// reads the other's count to see how much is free or waiting. Chunks are
// appended whole or not at all, so the file stays a sequence of whole frames
// and, when nothing is lost, holds exactly the bytes a direct write would.
#include <cstring>
#include <new>

#include "recording/recording.h"
#include "tracelog/trace.h"

namespace {

const uint32_t kQueueSamples = 1u << 20;  // 2 MiB: about 6 s of stereo at 44.1 kHz
const DWORD kWriterPollMs = 20;  // the ring holds seconds, so a poll this often never lets it fill

// Writes what is waiting, in at most two contiguous pieces of the ring.
void storeWaiting(RecordingQueue& queue) {
    const uint32_t appended = queue.appended.load(std::memory_order_acquire);
    uint32_t stored = queue.stored.load(std::memory_order_relaxed);
    while (stored != appended) {
        const uint32_t start = stored % queue.capacity;
        uint32_t count = appended - stored;
        if (count > queue.capacity - start) count = queue.capacity - start;
        writeSamples(queue.ring + start, static_cast<int>(count), queue.file);
        stored += count;
        queue.stored.store(stored, std::memory_order_release);
    }
}

DWORD WINAPI writerMain(LPVOID parameter) {
    RecordingQueue& queue = *static_cast<RecordingQueue*>(parameter);
    while (!queue.stopping.load(std::memory_order_acquire)) {
        WaitForSingleObject(queue.wake, kWriterPollMs);
        storeWaiting(queue);
    }
    storeWaiting(queue);
    return 0;
}

void release(RecordingQueue& queue) {
    if (queue.wake) CloseHandle(queue.wake);
    queue.wake = nullptr;
    delete[] queue.ring;
    queue.ring = nullptr;
}

}  // namespace

int startRecordingQueue(RecordingQueue& queue, HANDLE file) {
    queue.file = file;
    queue.lostBytes = 0;
    queue.appended = 0;
    queue.stored = 0;
    queue.stopping = 0;
    if (file == INVALID_HANDLE_VALUE) return 1;
    queue.capacity = kQueueSamples;
    queue.ring = new (std::nothrow) int16_t[kQueueSamples];
    queue.wake = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    if (queue.ring && queue.wake) queue.writer = CreateThread(nullptr, 0, writerMain, &queue, 0, nullptr);
    if (queue.writer) return 1;
    TRACE(TRACE_ERROR, "recording queue: no ring or writer thread; the take is not recorded");
    release(queue);
    queue.file = INVALID_HANDLE_VALUE;
    return 0;
}

void appendRecording(RecordingQueue& queue, const int16_t* samples, int count) {
    if (!queue.ring || count <= 0) return;
    const uint32_t appended = queue.appended.load(std::memory_order_relaxed);
    const uint32_t waiting = appended - queue.stored.load(std::memory_order_acquire);
    if (static_cast<uint32_t>(count) > queue.capacity - waiting) {
        queue.lostBytes += 2 * static_cast<int64_t>(count);
        return;
    }
    const uint32_t start = appended % queue.capacity;
    uint32_t first = static_cast<uint32_t>(count);
    if (first > queue.capacity - start) first = queue.capacity - start;
    memcpy(queue.ring + start, samples, first * sizeof(int16_t));
    memcpy(queue.ring, samples + first, (count - first) * sizeof(int16_t));
    // No SetEvent here: a kernel call per chunk costs the audio thread more than
    // the copy; the writer looks every kWriterPollMs instead.
    queue.appended.store(appended + static_cast<uint32_t>(count), std::memory_order_release);
}

HANDLE stopRecordingQueue(RecordingQueue& queue) {
    if (queue.writer) {
        queue.stopping.store(1, std::memory_order_release);
        SetEvent(queue.wake);
        WaitForSingleObject(queue.writer, INFINITE);
        CloseHandle(queue.writer);
        queue.writer = nullptr;
    }
    release(queue);
    if (queue.lostBytes)
        TRACE(TRACE_WARNING, "recording queue: the disk fell behind, %lld bytes of the take lost",
              static_cast<long long>(queue.lostBytes));
    const HANDLE file = queue.file;
    queue.file = INVALID_HANDLE_VALUE;
    return file;
}
