// Writing one record into the shared buffer, or counting why it could not.
//
// The whole write happens while holding the named mutex: reserve (check the
// header, note where the record starts and how much room it has), fill the
// fixed fields and the strings, commit (size, body encoding, header sum,
// last time, write offset), then wake the viewer. Every bound is taken from
// the header once, checked, and kept in the builder, so whatever another
// process writes meanwhile cannot move a write outside the data area.
#include <cwchar>

#include "platform/platform.h"
#include "tracelog/pbbuffer.h"
#include "tracelog/pbinternal.h"

namespace {

const uint64_t kStampWindow = 1000000;  // 0.1 s in 100 ns units
const uint64_t kStampStep = 50;
const uint64_t kUnitsPerMinute = 600000000;

// The record in progress: where it starts and how far it may grow.
struct RecordBuilder {
    uint8_t* record;
    uint32_t cursor;    // bytes filled so far
    uint32_t capacity;  // bytes it may take, leaving 4 bytes of the data area free
    PBHeaderState header;
    uint64_t time;
};

// Keeps time stamps increasing: within 0.1 s at or before the last stamp,
// a new stamp goes 50 units past the last one.
uint64_t nextStamp(const uint8_t* view) {
    uint64_t now = pbNow();
    uint64_t last = pbRead64(view + PB_LAST_TIME);
    if (last >= now && last - now < kStampWindow) return last + kStampStep;
    return now;
}

bool reserve(const PBConnection& c, RecordBuilder* b) {
    if (!pbReadValidHeader(c.view, c.viewBytes, c.fileBytes, &b->header)) return false;
    uint32_t left = b->header.dataSize - b->header.writeOffset;
    if (left < PB_REC_STRINGS + 4) return false;
    b->record = c.view + b->header.dataOffset + b->header.writeOffset;
    b->capacity = left - 4;
    b->cursor = PB_REC_STRINGS;
    b->time = nextStamp(c.view);
    pbWrite32(b->record + PB_REC_SIZE, 0);
    b->record[PB_REC_TYPE] = kPBRecordMessage;
    b->record[PB_REC_TYPE + 1] = 0;
    b->record[PB_REC_ENCODING] = kPBEncodingWords;
    b->record[PB_REC_ENCODING + 1] = 0;
    pbWrite64(b->record + PB_REC_TIME, b->time);
    return true;
}

void fillFixed(RecordBuilder* b, int line, DWORD level) {
    pbWrite32(b->record + PB_REC_LEVEL, level);
    pbWrite32(b->record + PB_REC_LINE, uint32_t(line));
    pbWrite32(b->record + PB_REC_PROCESS, GetCurrentProcessId());
    pbWrite32(b->record + PB_REC_THREAD, GetCurrentThreadId());
    int16_t minutes = pbLocalMinutes(b->time);
    b->record[PB_REC_MINUTES] = uint8_t(minutes);
    b->record[PB_REC_MINUTES + 1] = uint8_t(uint16_t(minutes) >> 8);
    b->record[PB_REC_MINUTES + 2] = 0;
    b->record[PB_REC_MINUTES + 3] = 0;
}

// Appends a zero-terminated UTF-16 string (null is empty) and stores its
// offset in the given field. False when it does not fit.
bool appendString(RecordBuilder* b, uint32_t field, const wchar_t* text, size_t maxUnits) {
    size_t units = text ? wcsnlen(text, maxUnits) : 0;
    size_t bytes = (units + 1) * 2;
    if (bytes > b->capacity - b->cursor) return false;
    pbWrite32(b->record + field, b->cursor);
    uint8_t* at = b->record + b->cursor;
    for (size_t i = 0; i < units; ++i) {
        at[2 * i] = uint8_t(text[i]);
        at[2 * i + 1] = uint8_t(uint16_t(text[i]) >> 8);
    }
    at[2 * units] = at[2 * units + 1] = 0;
    b->cursor += uint32_t(bytes);
    return true;
}

bool appendStrings(RecordBuilder* b, const PBComponent* component, const PBContext* context, const wchar_t* file,
                   const wchar_t* text) {
    const PBClientState& client = pbClient();
    const size_t descriptorUnits = 63, pathUnits = 259, anyUnits = 0x7FFFFFFF;
    return appendString(b, PB_REC_COMPONENT_KEY, component ? component->key : nullptr, descriptorUnits) &&
           appendString(b, PB_REC_COMPONENT_NAME, component ? component->name : nullptr, descriptorUnits) &&
           appendString(b, PB_REC_CONTEXT_NAME, context ? context->name : nullptr, descriptorUnits) &&
           appendString(b, PB_REC_PROCESS_PATH, client.processPath, pathUnits) &&
           appendString(b, PB_REC_MODULE_PATH, client.modulePath, pathUnits) &&
           appendString(b, PB_REC_SOURCE_FILE, file, anyUnits) && appendString(b, PB_REC_MESSAGE, text, anyUnits);
}

void commit(const PBConnection& c, RecordBuilder* b) {
    // The rounding stays inside the data area: the cursor is even and
    // 4 bytes of room were kept back.
    uint32_t size = (b->cursor + 3) & ~3u;
    for (uint32_t i = b->cursor; i < size; ++i) b->record[i] = 0;
    pbWrite32(b->record + PB_REC_SIZE, size);
    pbEncodeWords(b->record + kPBBodyOffset, size - kPBBodyOffset);
    uint32_t sum = pbRead32(c.view + PB_SUM) + pbWordSum(b->record, size);
    pbWritePair(c.view, PB_SUM, sum);
    pbWrite64(c.view + PB_LAST_TIME, b->time);
    uint32_t writeOffset = b->header.writeOffset + size;
    pbWritePair(c.view, PB_WRITE_OFFSET, writeOffset);
    pbWidenVersions(c.view);
    if (writeOffset > uint64_t(b->header.dataSize) * 5 / 10) SetEvent(c.lowSpace);
}

// A record that could not be written: counted in the process and, with its
// time, in the header; the viewer learns of it through the low-space signal.
void countDrop(const PBConnection& c) {
    pbClient().droppedRecords.fetch_add(1);
    uint32_t dropped = pbRead32(c.view + PB_DROPPED);
    uint64_t time = nextStamp(c.view);
    int16_t minutes = pbLocalMinutes(time);
    pbWritePair(c.view, PB_DROPPED, dropped + 1);
    bool first = dropped == 0;
    pbWrite64(c.view + (first ? PB_FIRST_DROP_TIME : PB_LATEST_DROP_TIME), time);
    uint8_t* minutesAt = c.view + (first ? PB_FIRST_DROP_MINUTES : PB_LATEST_DROP_MINUTES);
    minutesAt[0] = uint8_t(minutes);
    minutesAt[1] = uint8_t(uint16_t(minutes) >> 8);
    pbWrite64(c.view + PB_LAST_TIME, time);
    SetEvent(c.lowSpace);
}

// A failed wait for the lock, recorded without the lock (there is none to
// have). The minutes field keeps the first failure's offset in its low half.
void countLockFailure(const PBConnection& c, DWORD windowsError) {
    pbClient().lockFailures.fetch_add(1);
    uint32_t failures = pbRead32(c.view + PB_LOCK_FAILURES) + 1;
    uint64_t time = pbNow();
    int32_t minutes = pbLocalMinutes(time);
    pbWritePair(c.view, PB_LOCK_FAILURES, failures);
    if (failures == 1) {
        pbWrite64(c.view + PB_FIRST_LOCK_FAILURE_TIME, time);
        pbWrite32(c.view + PB_LOCK_FAILURE_MINUTES, uint32_t(minutes));
    } else {
        pbWrite64(c.view + PB_LATEST_LOCK_FAILURE_TIME, time);
        int32_t firstMinutes = int16_t(pbRead32(c.view + PB_LOCK_FAILURE_MINUTES) & 0xFFFF);
        pbWrite32(c.view + PB_LOCK_FAILURE_MINUTES, uint32_t(firstMinutes + 4 * minutes));
    }
    pbWrite32(c.view + PB_LOCK_FAILURE_ERROR, windowsError);
    SetEvent(c.newMessages);
}

// While the client holds the lock, a fault is reported before the program's
// own handling runs.
LONG WINAPI faultFilter(EXCEPTION_POINTERS* info) {
    pbReportError(PB_ERR_FAULT, info->ExceptionRecord->ExceptionCode, L"exception while holding PB_MTX");
    LPTOP_LEVEL_EXCEPTION_FILTER previous = pbClient().savedFilter.load();
    return previous ? previous(info) : EXCEPTION_CONTINUE_SEARCH;
}

}  // namespace

uint64_t pbNow() {
    FILETIME now;
    platform().getSystemTimeAsFileTime(&now);
    return uint64_t(now.dwHighDateTime) << 32 | now.dwLowDateTime;
}

int16_t pbLocalMinutes(uint64_t utc) {
    FILETIME utcTime = {DWORD(utc), DWORD(utc >> 32)}, localTime;
    if (!FileTimeToLocalFileTime(&utcTime, &localTime)) return 0;
    int64_t local = int64_t(uint64_t(localTime.dwHighDateTime) << 32 | localTime.dwLowDateTime);
    return int16_t((local - int64_t(utc)) / int64_t(kUnitsPerMinute));
}

bool pbLock() {
    PBClientState& client = pbClient();
    DWORD result = platform().waitForSingleObject(client.connection.lock, INFINITE);
    if (result == WAIT_OBJECT_0 || result == WAIT_ABANDONED) {
        client.savedFilter.store(SetUnhandledExceptionFilter(faultFilter));
        return true;
    }
    countLockFailure(client.connection, result == WAIT_FAILED ? GetLastError() : result);
    return false;
}

void pbUnlock() {
    PBClientState& client = pbClient();
    SetUnhandledExceptionFilter(client.savedFilter.exchange(nullptr));
    ReleaseMutex(client.connection.lock);
}

void pbWriteRecord(const wchar_t* file, int line, DWORD level, const PBComponent* component,
                   const PBContext* context, const wchar_t* text) {
    const PBConnection& c = pbClient().connection;
    if (!pbLock()) return;
    RecordBuilder b = {};
    bool written = reserve(c, &b);
    if (written) {
        fillFixed(&b, line, level);
        written = appendStrings(&b, component, context, file, text);
    }
    if (written) commit(c, &b);
    SetEvent(c.newMessages);
    if (!written) countDrop(c);
    pbUnlock();
}
