// The trace-log buffer file shared with the outside log viewer: a 0x400-byte
// header followed by the data area, where log records are appended. The
// client writes it and the viewer (tools/traceview) reads it; both use these
// definitions, so the layout and the body encodings live in one place.
//
// The file belongs to another process, which may write anything into it.
// Everything here therefore works on a view of known size and checks every
// offset and size it reads before using it.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <string>

// Header fields (byte offsets). Each of the first eleven 32-bit fields is
// followed by its bitwise complement.
enum PBHeaderField : uint32_t {
    PB_MAGIC = 0x00,
    PB_VERSION_HIGH = 0x08,
    PB_VERSION_LOW = 0x10,
    PB_RESET_REASON = 0x18,
    PB_DATA_OFFSET = 0x20,
    PB_DATA_SIZE = 0x28,
    PB_WRITE_OFFSET = 0x30,
    PB_SUM = 0x38,
    PB_DROPPED = 0x40,
    PB_LOCK_FAILURES = 0x48,
    PB_RESERVED = 0x50,
    PB_LAST_TIME = 0x58,
    PB_FIRST_DROP_TIME = 0x60,
    PB_LATEST_DROP_TIME = 0x68,
    PB_FIRST_LOCK_FAILURE_TIME = 0x70,
    PB_LATEST_LOCK_FAILURE_TIME = 0x78,
    PB_FIRST_DROP_MINUTES = 0x90,
    PB_LATEST_DROP_MINUTES = 0x92,
    PB_LOCK_FAILURE_MINUTES = 0x94,
    PB_LOCK_FAILURE_ERROR = 0x9c,
};

const uint32_t kPBHeaderBytes = 0x400;
const uint32_t kPBMagic = 0x00420050;       // the UTF-16 text "PB"
const uint32_t kPBClientVersion = 0x01050000;  // 1.5
const int kPBComplementPairs = 11;          // magic .. reserved

// Reset reasons stored in the header.
enum PBResetReason : uint32_t {
    PB_RESET_NONE = 0,
    PB_RESET_SHRUNK = 1,          // a buffer that held records was made smaller
    PB_RESET_INVALID_HEADER = 2,  // an existing file had an invalid header
    PB_RESET_NEW_FILE = 4,        // the file was newly created
};

// Log record layout (byte offsets from the record start).
enum PBRecordField : uint32_t {
    PB_REC_SIZE = 0x00,
    PB_REC_TYPE = 0x04,
    PB_REC_ENCODING = 0x06,
    PB_REC_TIME = 0x08,
    PB_REC_LEVEL = 0x10,
    PB_REC_LINE = 0x14,
    PB_REC_PROCESS = 0x18,
    PB_REC_THREAD = 0x1c,
    PB_REC_COMPONENT_KEY = 0x20,
    PB_REC_COMPONENT_NAME = 0x24,
    PB_REC_CONTEXT_NAME = 0x28,
    PB_REC_PROCESS_PATH = 0x2c,
    PB_REC_MODULE_PATH = 0x30,
    PB_REC_SOURCE_FILE = 0x34,
    PB_REC_MESSAGE = 0x38,
    PB_REC_MINUTES = 0x3c,
    PB_REC_STRINGS = 0x40,
};

const uint16_t kPBRecordMessage = 1;
const uint16_t kPBEncodingBytes = 0x10;  // byte-chained
const uint16_t kPBEncodingWords = 0x11;  // word-chained, what the client writes
const uint32_t kPBBodyOffset = 0x10;     // the encoded part starts here
const int kPBRecordStrings = 7;          // component key .. message text

// Little-endian field access on raw bytes (unaligned-safe).
uint32_t pbRead32(const volatile uint8_t* at);
void pbWrite32(volatile uint8_t* at, uint32_t value);
uint64_t pbRead64(const volatile uint8_t* at);
void pbWrite64(volatile uint8_t* at, uint64_t value);
// A complemented header field: the value and its complement after it.
void pbWritePair(volatile uint8_t* header, uint32_t field, uint32_t value);

// What a valid header says about the data area, read once so that a change
// by another process between the check and the use cannot matter.
struct PBHeaderState {
    uint32_t dataOffset;
    uint32_t dataSize;
    uint32_t writeOffset;
};

// The header checks of the protocol (complement pairs, magic, equal major
// versions, data offset + data size = file size) plus what safe use needs:
// the data area lies behind the header inside the view and the write offset
// is 4-aligned and inside the data area. fileBytes is the file's size,
// viewBytes what is mapped of it (the mapping may be older than a growth).
bool pbReadValidHeader(const volatile uint8_t* view, size_t viewBytes, uint64_t fileBytes, PBHeaderState* state);

// What is mapped of the file at view: a mapping made earlier by someone else
// may be shorter or longer than the file is now, so never more than both.
size_t pbViewSize(const volatile uint8_t* view, uint64_t fileBytes);

// Writes a fresh header for a file of fileBytes: magic, both versions, data
// offset and size, an empty data area, zero counts and the given reason.
void pbResetHeader(volatile uint8_t* view, uint32_t fileBytes, uint32_t reason);
// Raises the highest or lowers the lowest version field so they bracket ours.
void pbWidenVersions(volatile uint8_t* view);

// Body encodings, in place on the record bytes from kPBBodyOffset to the end.
void pbEncodeWords(uint8_t* body, size_t bodyBytes);
void pbDecodeWords(uint8_t* body, size_t bodyBytes);
void pbEncodeBytes(uint8_t* body, size_t bodyBytes);
void pbDecodeBytes(uint8_t* body, size_t bodyBytes);
// Sum of the record's 32-bit words modulo 2^32 (recordBytes is a multiple of 4).
uint32_t pbWordSum(const uint8_t* record, size_t recordBytes);

// One decoded log record.
struct PBRecord {
    uint32_t size;
    uint16_t type;
    uint16_t encoding;
    uint64_t time;  // FILETIME, UTC
    uint32_t level;
    uint32_t line;
    uint32_t processId;
    uint32_t threadId;
    int16_t localMinutes;
    std::wstring componentKey, componentName, contextName, processPath, modulePath, sourceFile, message;
};

// Decodes the record at `at` with `available` bytes left in the data area.
// Returns the record's size (the step to the next record), or 0 when the
// bytes there are no record (size below 0x40, not 4-aligned or too long).
// Strings whose offsets point outside the record are read as empty, and a
// string without a terminator ends at the record end.
uint32_t pbDecodeRecord(const volatile uint8_t* at, size_t available, PBRecord* record);
