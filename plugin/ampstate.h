// The amplifier's persisted state block: a fixed-size, versioned record of
// its parameters, independent of the byte order of the machine.
//
// Layout (little endian): "HAmp", version (u32), parameter count (u32),
// the parameters (f32 each), then zero bytes up to the block size.
// A reader takes the parameters it knows and ignores the rest, so a later
// version that appends parameters can still be read within the same size.
#pragma once

#include <cstddef>
#include <cstdint>

class AmpDsp;

const uint32_t kAmpStateVersion = 1;
const size_t kAmpStateHeaderBytes = 12;

// The block size this build persists; compile-time switch for test variants.
#ifndef HW_AMP_STATE_BYTES
#define HW_AMP_STATE_BYTES 64
#endif
const size_t kAmpStateBytes = HW_AMP_STATE_BYTES;
static_assert(kAmpStateBytes >= kAmpStateHeaderBytes + 4 * 6, "state block too small for the parameters");

// Writes the parameters of dsp into block, zero-filled to blockBytes
// (at least kAmpStateHeaderBytes + 4 per parameter).
void writeAmpState(const AmpDsp& dsp, unsigned char* block, size_t blockBytes);
// Reads a block into dsp; false (and dsp unchanged) when the block is not one
// of ours: wrong tag, a version newer than this build, or a parameter count
// that does not fit the block.
bool readAmpState(const unsigned char* block, size_t blockBytes, AmpDsp& dsp);
