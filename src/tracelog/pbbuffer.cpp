#include "tracelog/pbbuffer.h"

#include <cstring>
#include <vector>

uint32_t pbRead32(const volatile uint8_t* at) {
    return uint32_t(at[0]) | uint32_t(at[1]) << 8 | uint32_t(at[2]) << 16 | uint32_t(at[3]) << 24;
}

void pbWrite32(volatile uint8_t* at, uint32_t value) {
    for (int i = 0; i < 4; ++i) at[i] = uint8_t(value >> (8 * i));
}

uint64_t pbRead64(const volatile uint8_t* at) { return uint64_t(pbRead32(at)) | uint64_t(pbRead32(at + 4)) << 32; }

void pbWrite64(volatile uint8_t* at, uint64_t value) {
    pbWrite32(at, uint32_t(value));
    pbWrite32(at + 4, uint32_t(value >> 32));
}

void pbWritePair(volatile uint8_t* header, uint32_t field, uint32_t value) {
    pbWrite32(header + field, value);
    pbWrite32(header + field + 4, ~value);
}

bool pbReadValidHeader(const volatile uint8_t* view, size_t viewBytes, uint64_t fileBytes, PBHeaderState* state) {
    if (viewBytes < kPBHeaderBytes) return false;
    // Copy first: the owner may change the header while we look at it.
    uint32_t words[2 * kPBComplementPairs];
    for (int i = 0; i < 2 * kPBComplementPairs; ++i) words[i] = pbRead32(view + 4 * i);
    for (int i = 0; i < kPBComplementPairs; ++i)
        if ((words[2 * i] ^ words[2 * i + 1]) != 0xFFFFFFFFu) return false;
    uint32_t magic = words[PB_MAGIC / 4];
    uint32_t high = words[PB_VERSION_HIGH / 4];
    uint32_t low = words[PB_VERSION_LOW / 4];
    uint32_t dataOffset = words[PB_DATA_OFFSET / 4];
    uint32_t dataSize = words[PB_DATA_SIZE / 4];
    uint32_t writeOffset = words[PB_WRITE_OFFSET / 4];
    if (magic != kPBMagic || (high >> 24) != (low >> 24)) return false;
    uint64_t end = uint64_t(dataOffset) + dataSize;
    if (end != fileBytes || end > viewBytes) return false;
    // Records must never land on the header, and records are 4-aligned.
    if (dataOffset < kPBHeaderBytes || dataOffset % 4 != 0) return false;
    if (writeOffset > dataSize || writeOffset % 4 != 0) return false;
    if (state) *state = {dataOffset, dataSize, writeOffset};
    return true;
}

size_t pbViewSize(const volatile uint8_t* view, uint64_t fileBytes) {
    const void* base = const_cast<const uint8_t*>(view);
    size_t total = 0;
    MEMORY_BASIC_INFORMATION info;
    for (const uint8_t* at = static_cast<const uint8_t*>(base); VirtualQuery(at, &info, sizeof info) == sizeof info;
         at += info.RegionSize) {
        if (info.AllocationBase != base || info.State != MEM_COMMIT) break;
        total += info.RegionSize;
    }
    return total < fileBytes ? total : size_t(fileBytes);
}

void pbResetHeader(volatile uint8_t* view, uint32_t fileBytes, uint32_t reason) {
    pbWritePair(view, PB_MAGIC, kPBMagic);
    pbWritePair(view, PB_VERSION_HIGH, kPBClientVersion);
    pbWritePair(view, PB_VERSION_LOW, kPBClientVersion);
    pbWritePair(view, PB_RESET_REASON, reason);
    pbWritePair(view, PB_DATA_OFFSET, kPBHeaderBytes);
    pbWritePair(view, PB_DATA_SIZE, fileBytes - kPBHeaderBytes);
    pbWritePair(view, PB_WRITE_OFFSET, 0);
    pbWritePair(view, PB_SUM, 0);
    pbWritePair(view, PB_DROPPED, 0);
    pbWritePair(view, PB_LOCK_FAILURES, 0);
    pbWritePair(view, PB_RESERVED, 0);
    pbWrite32(view + PB_LOCK_FAILURE_ERROR, 0);
    pbWrite64(view + PB_LAST_TIME, 0);
}

void pbWidenVersions(volatile uint8_t* view) {
    if (pbRead32(view + PB_VERSION_HIGH) < kPBClientVersion) pbWritePair(view, PB_VERSION_HIGH, kPBClientVersion);
    if (pbRead32(view + PB_VERSION_LOW) > kPBClientVersion) pbWritePair(view, PB_VERSION_LOW, kPBClientVersion);
}

namespace {

// The chaining functions: g on 16-bit halves, g8 on bytes.
uint32_t g16(uint32_t h) { return (h * 0x6E2B + 0x5C47) & 0xFFFF; }
uint32_t chainWord(uint32_t w) { return g16(w & 0xFFFF) | g16(w >> 16) << 16; }
uint8_t chainByte(uint32_t u) { return uint8_t(u * 0x2B + 0x47); }

}  // namespace

void pbEncodeWords(uint8_t* body, size_t bodyBytes) {
    size_t n = bodyBytes / 4;
    if (n == 0) return;
    uint32_t previous = uint32_t(n);
    for (size_t i = 0; i < n; ++i) {
        uint32_t encoded = pbRead32(body + 4 * i) + chainWord(previous);
        pbWrite32(body + 4 * i, encoded);
        previous = encoded;
    }
}

void pbDecodeWords(uint8_t* body, size_t bodyBytes) {
    size_t n = bodyBytes / 4;
    if (n == 0) return;
    uint32_t previous = uint32_t(n);
    for (size_t i = 0; i < n; ++i) {
        uint32_t encoded = pbRead32(body + 4 * i);
        pbWrite32(body + 4 * i, encoded - chainWord(previous));
        previous = encoded;
    }
}

void pbEncodeBytes(uint8_t* body, size_t bodyBytes) {
    uint32_t previous = uint32_t(bodyBytes);
    for (size_t i = 0; i < bodyBytes; ++i) {
        body[i] = uint8_t(body[i] + chainByte(previous));
        previous = body[i];
    }
}

void pbDecodeBytes(uint8_t* body, size_t bodyBytes) {
    uint32_t previous = uint32_t(bodyBytes);
    for (size_t i = 0; i < bodyBytes; ++i) {
        uint8_t encoded = body[i];
        body[i] = uint8_t(encoded - chainByte(previous));
        previous = encoded;
    }
}

uint32_t pbWordSum(const uint8_t* record, size_t recordBytes) {
    uint32_t sum = 0;
    for (size_t i = 0; i + 4 <= recordBytes; i += 4) sum += pbRead32(record + i);
    return sum;
}

namespace {

std::wstring stringAt(const std::vector<uint8_t>& bytes, uint32_t offset) {
    std::wstring text;
    if (offset < PB_REC_STRINGS || offset >= bytes.size()) return text;
    for (size_t i = offset; i + 2 <= bytes.size(); i += 2) {
        wchar_t unit = wchar_t(bytes[i] | bytes[i + 1] << 8);
        if (unit == 0) break;
        text.push_back(unit);
    }
    return text;
}

}  // namespace

uint32_t pbDecodeRecord(const volatile uint8_t* at, size_t available, PBRecord* record) {
    if (available < PB_REC_STRINGS) return 0;
    uint32_t size = pbRead32(at);
    if (size < PB_REC_STRINGS || size % 4 != 0 || size > available) return 0;
    // Decode a private copy: the buffer itself stays as the writer left it.
    std::vector<uint8_t> bytes(size);
    for (uint32_t i = 0; i < size; ++i) bytes[i] = at[i];
    record->size = size;
    record->type = uint16_t(bytes[PB_REC_TYPE] | bytes[PB_REC_TYPE + 1] << 8);
    record->encoding = uint16_t(bytes[PB_REC_ENCODING] | bytes[PB_REC_ENCODING + 1] << 8);
    record->time = pbRead64(&bytes[PB_REC_TIME]);
    if (record->encoding == kPBEncodingWords)
        pbDecodeWords(&bytes[kPBBodyOffset], size - kPBBodyOffset);
    else if (record->encoding == kPBEncodingBytes)
        pbDecodeBytes(&bytes[kPBBodyOffset], size - kPBBodyOffset);
    record->level = pbRead32(&bytes[PB_REC_LEVEL]);
    record->line = pbRead32(&bytes[PB_REC_LINE]);
    record->processId = pbRead32(&bytes[PB_REC_PROCESS]);
    record->threadId = pbRead32(&bytes[PB_REC_THREAD]);
    record->localMinutes = int16_t(bytes[PB_REC_MINUTES] | bytes[PB_REC_MINUTES + 1] << 8);
    record->componentKey = stringAt(bytes, pbRead32(&bytes[PB_REC_COMPONENT_KEY]));
    record->componentName = stringAt(bytes, pbRead32(&bytes[PB_REC_COMPONENT_NAME]));
    record->contextName = stringAt(bytes, pbRead32(&bytes[PB_REC_CONTEXT_NAME]));
    record->processPath = stringAt(bytes, pbRead32(&bytes[PB_REC_PROCESS_PATH]));
    record->modulePath = stringAt(bytes, pbRead32(&bytes[PB_REC_MODULE_PATH]));
    record->sourceFile = stringAt(bytes, pbRead32(&bytes[PB_REC_SOURCE_FILE]));
    record->message = stringAt(bytes, pbRead32(&bytes[PB_REC_MESSAGE]));
    return size;
}
