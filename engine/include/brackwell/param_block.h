/* The 65-byte receive-parameter block of sdrSetNewParam: packed,
   little-endian, byte 0 the layout version. Field offsets, the bits of the
   flags word, the limits of sdrSetGlobal's arguments, and an encoder. */
#ifndef BRACKWELL_PARAM_BLOCK_H
#define BRACKWELL_PARAM_BLOCK_H

#include <stdint.h>
#include <string.h>

#include "brackwell/brackwell.h"

#define SDR_PARAM_VERSION 1

/* Byte offsets of the fields. */
#define SDR_PARAM_OFFSET_VERSION 0        /* uint8 */
#define SDR_PARAM_OFFSET_FLAGS 1          /* uint32 */
#define SDR_PARAM_OFFSET_IQ_PHASE_COEF 5  /* double: imaginary += coef x real */
#define SDR_PARAM_OFFSET_IQ_GAIN_COEF 13  /* double: real x (1 + coef) */
#define SDR_PARAM_OFFSET_LOW_CUT_HZ 21    /* int32, Hz */
#define SDR_PARAM_OFFSET_HIGH_CUT_HZ 25   /* int32, Hz */
#define SDR_PARAM_OFFSET_TUNE_OFFSET_HZ 29 /* int32, Hz from the band centre */
#define SDR_PARAM_OFFSET_AGC_BLOCKS 33    /* int32, blocks (1..10) */
#define SDR_PARAM_OFFSET_GAIN 37          /* double, linear (AGC: its ceiling) */
#define SDR_PARAM_OFFSET_RESERVED 45      /* 4 bytes: the extension switches */
#define SDR_PARAM_OFFSET_EXTENSIONS SDR_PARAM_OFFSET_RESERVED /* uint32 */
#define SDR_PARAM_OFFSET_SQUELCH_LEVEL 49 /* double, sample units */
#define SDR_PARAM_OFFSET_OUTPUT_GAIN 57   /* double, linear; used when > 0 */

/* Bits of the flags word; 0 passes the captured samples through. */
#define SDR_FLAG_FLUSH_TOGGLE 0x1u      /* a change clears the overlap tails */
#define SDR_FLAG_SWAP_INPUT 0x10u       /* left sample is Q, right is I */
#define SDR_FLAG_SWAP_OUTPUT 0x20u      /* exchange the output channels */
#define SDR_FLAG_MONO_INPUT 0x40u       /* I is both real and imaginary part */
#define SDR_FLAG_MONO_OUTPUT 0x80u      /* both channels carry the real part */
#define SDR_FLAG_SPECTRUM_EARLY 0x100u  /* spectrum of the input, not output */
#define SDR_FLAG_SHIFT_EARLY 0x200u     /* tune before sideband and filter */
#define SDR_FLAG_SIDEBAND_EARLY 0x400u  /* remove the sideband before filter */
#define SDR_FLAG_AGC_ON 0x800u          /* automatic gain, gain its ceiling */
#define SDR_FLAG_SQUELCH_ON 0x2000u
#define SDR_FLAG_BALANCE_EARLY 0x4000u  /* I/Q balance on the input spectrum */
#define SDR_FLAG_UPPER_SIDEBAND 0x100000u /* remove the negative frequencies */
#define SDR_FLAG_LOWER_SIDEBAND 0x200000u /* remove zero and positive ones */
/* The console's receiver: MonoOutput, SpectrumEarly, ShiftEarly,
   SidebandEarly, AgcOn, SquelchOn, BalanceEarly, UpperSideband. */
#define SDR_FLAGS_CONSOLE 0x00106F80u

/* Extensions beyond the receive chain described above, in the uint32 at
   offset 45. A block with this word 0 (every block the console sends without
   them) is processed exactly as without the word; other bits are ignored.
   EXACT_TUNING: the tuning lands on the requested offset itself rather than
     on the nearest even number of bins, by a phase-continuous rotation of
     the output by the rest; the passband follows (with SHIFT_EARLY the
     filter moves by the rest too). The input spectrum is not moved.
   AUTO_IQ_BALANCE: the gain and phase mismatch of the I and Q channels is
     estimated from the signal and corrected, on top of the two manual
     balance coefficients.
   DC_REMOVAL: a DC offset of either channel is tracked and subtracted
     before the transform, so no spike stands at the band centre. */
#define SDR_EXT_EXACT_TUNING 0x1u
#define SDR_EXT_AUTO_IQ_BALANCE 0x2u
#define SDR_EXT_DC_REMOVAL 0x4u
#define SDR_EXT_ALL 0x7u

/* The audio passband's edge limits, Hz. The console offers edges in
   SDR_MIN_CUT_HZ..SDR_MAX_CUT_HZ only, low below high. The chain takes a new
   pair of edges when 0 < low < high and otherwise keeps the band in use; its
   design turns a band reaching outside these limits (or with high <= low)
   into SDR_MIN_CUT_HZ..SDR_MAX_CUT_HZ. */
#define SDR_MIN_CUT_HZ 50
#define SDR_MAX_CUT_HZ 6000

/* Limits of sdrSetGlobal's arguments. */
#define SDR_MIN_ORDER 8
#define SDR_MAX_ORDER 16
#define SDR_MIN_BUFFER_COUNT 2
#define SDR_MAX_BUFFER_COUNT 8

/* The fields of one block. */
typedef struct SdrReceiveParams {
  uint8_t version;
  uint32_t flags;
  double iqPhaseCoef;
  double iqGainCoef;
  int32_t lowCutHz;
  int32_t highCutHz;
  int32_t tuneOffsetHz;
  int32_t agcBlocks;
  double gain;
  double squelchLevel;
  double outputGain;
  uint32_t extensions; /* SDR_EXT_* bits, 0 for none */
} SdrReceiveParams;

/* Writes p into the 65 bytes of block. The host is little-endian, like the
   block. */
static inline void sdrEncodeParams(const SdrReceiveParams* p,
                                   uint8_t block[SDR_PARAM_BLOCK_BYTES]) {
  memset(block, 0, SDR_PARAM_BLOCK_BYTES);
  block[SDR_PARAM_OFFSET_VERSION] = p->version;
  memcpy(block + SDR_PARAM_OFFSET_FLAGS, &p->flags, 4);
  memcpy(block + SDR_PARAM_OFFSET_IQ_PHASE_COEF, &p->iqPhaseCoef, 8);
  memcpy(block + SDR_PARAM_OFFSET_IQ_GAIN_COEF, &p->iqGainCoef, 8);
  memcpy(block + SDR_PARAM_OFFSET_LOW_CUT_HZ, &p->lowCutHz, 4);
  memcpy(block + SDR_PARAM_OFFSET_HIGH_CUT_HZ, &p->highCutHz, 4);
  memcpy(block + SDR_PARAM_OFFSET_TUNE_OFFSET_HZ, &p->tuneOffsetHz, 4);
  memcpy(block + SDR_PARAM_OFFSET_AGC_BLOCKS, &p->agcBlocks, 4);
  memcpy(block + SDR_PARAM_OFFSET_GAIN, &p->gain, 8);
  memcpy(block + SDR_PARAM_OFFSET_EXTENSIONS, &p->extensions, 4);
  memcpy(block + SDR_PARAM_OFFSET_SQUELCH_LEVEL, &p->squelchLevel, 8);
  memcpy(block + SDR_PARAM_OFFSET_OUTPUT_GAIN, &p->outputGain, 8);
}

/* Writes a new tuning offset into an encoded block. */
static inline void sdrStoreTuneOffset(uint8_t block[SDR_PARAM_BLOCK_BYTES],
                                      int32_t offsetHz) {
  memcpy(block + SDR_PARAM_OFFSET_TUNE_OFFSET_HZ, &offsetHz, 4);
}

/* The console's receiver at tuning offset 0: upper sideband, 300..2700 Hz,
   AGC over 10 blocks with ceiling 1000, squelch level 0, output gain 1. */
static inline SdrReceiveParams sdrConsoleParams(void) {
  SdrReceiveParams p;
  memset(&p, 0, sizeof p);
  p.version = SDR_PARAM_VERSION;
  p.flags = SDR_FLAGS_CONSOLE;
  p.lowCutHz = 300;
  p.highCutHz = 2700;
  p.agcBlocks = 10;
  p.gain = 1000.0;
  p.squelchLevel = 0.0;
  p.outputGain = 1.0;
  return p;
}

#endif
