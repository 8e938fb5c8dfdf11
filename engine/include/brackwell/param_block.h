/* The 65-byte receive-parameter block of sdrSetNewParam: packed,
   little-endian, byte 0 the layout version. Field offsets, the bits of the
   flags word, the limits of sdrSetGlobal's arguments, and an encoder. */
#ifndef BRACKWELL_PARAM_BLOCK_H
#define BRACKWELL_PARAM_BLOCK_H

#include <stdint.h>
#include <string.h>

#include "brackwell/brackwell.h"

#define SDR_PARAM_VERSION 1
/* A version-2 block: the 65 bytes of version 1 followed by the receive mode
   and the noise tools (SdrReceiveModes), SDR_PARAM_BLOCK_V2_BYTES in all.
   Version 1 reads exactly as before; a version-2 block whose tail is all
   zero is processed exactly as the same block at version 1. */
#define SDR_PARAM_VERSION_MODES 2
#define SDR_PARAM_BLOCK_V2_BYTES 128

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

/* Byte offsets of the version-2 tail. Bytes from
   SDR_PARAM_OFFSET_V2_RESERVED on are zero; a later version may use them. */
#define SDR_PARAM_OFFSET_MODE 65              /* uint8, SDR_MODE_* */
#define SDR_PARAM_OFFSET_PITCH_HZ 66          /* int32, Hz */
#define SDR_PARAM_OFFSET_FM_DEVIATION_HZ 70   /* int32, Hz */
#define SDR_PARAM_OFFSET_TOOLS 74             /* uint32, SDR_TOOL_* */
#define SDR_PARAM_OFFSET_BLANKER_LEVEL 78     /* double */
#define SDR_PARAM_OFFSET_REDUCTION_LEVEL 86   /* double */
#define SDR_PARAM_OFFSET_FM_SQUELCH_LEVEL 94  /* double */
#define SDR_PARAM_OFFSET_V2_RESERVED 102

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
     before the transform, so no spike stands at the band centre.
   WINDOWED_SPECTRUM: the spectrum snapshot is that of the block under a
     window whose sidelobes are more than 90 dB down, so that a weak signal
     beside a strong one stands out; the audio is not changed. It applies
     to the input spectrum (SPECTRUM_EARLY); a steady tone reads the same
     peak height as without the window, broadband noise 2.9 dB higher.
   MINIMUM_PHASE: the band filter keeps its magnitude response but has
     minimum phase: the middle of the passband is heard about 1-5 ms after
     it enters rather than half the filter's length later (21.3 ms for 2048
     taps at 48000 Hz), near a steep edge up to about 10 ms; the phase is no
     longer linear, and where the filter is deeper than 100 dB it reads
     100-120 dB down. For an operator who keys by ear. */
#define SDR_EXT_EXACT_TUNING 0x1u
#define SDR_EXT_AUTO_IQ_BALANCE 0x2u
#define SDR_EXT_DC_REMOVAL 0x4u
#define SDR_EXT_WINDOWED_SPECTRUM 0x8u
#define SDR_EXT_MINIMUM_PHASE 0x10u
#define SDR_EXT_ALL 0x1Fu

/* Receive modes of a version-2 block. SIDEBAND is the chain of version 1:
   single sideband as the UPPER_/LOWER_SIDEBAND flags choose. In every other
   mode the tuning offset is the carrier's, and the flags' sideband bits are
   not used. The mode's passband is lowCutHz..highCutHz as in version 1,
   with these meanings:
   CW, CW_REVERSED: a carrier at the tuning offset is heard as a tone of
     pitchHz (SDR_MIN_PITCH_HZ..SDR_MAX_PITCH_HZ, 0 for SDR_DEFAULT_PITCH_HZ),
     above (CW) or below (CW_REVERSED) the carrier on the band; the
     passband edges are audio frequencies around the pitch.
   AM: envelope detection, the carrier's level removed from the audio; the
     passband is -highCutHz..+highCutHz around the carrier (highCutHz up to
     SDR_MAX_CUT_HZ), and audio below lowCutHz is removed.
   SAM, SAM_UPPER, SAM_LOWER: synchronous detection on a carrier-locked
     loop, both sidebands or one; passband as AM.
   FM: narrow-band FM of fmDeviationHz peak deviation (0 for 5000), with
     de-emphasis; passband as AM but highCutHz up to SDR_MAX_FM_CUT_HZ;
     fmSquelchLevel > 0 mutes the audio while the noise above the audio band
     exceeds that level (0..1). */
#define SDR_MODE_SIDEBAND 0
#define SDR_MODE_CW 1
#define SDR_MODE_CW_REVERSED 2
#define SDR_MODE_AM 3
#define SDR_MODE_SAM 4
#define SDR_MODE_SAM_UPPER 5
#define SDR_MODE_SAM_LOWER 6
#define SDR_MODE_FM 7
#define SDR_MODE_COUNT 8

#define SDR_MAX_FM_CUT_HZ 8000

#define SDR_MIN_PITCH_HZ 300
#define SDR_MAX_PITCH_HZ 1000
#define SDR_DEFAULT_PITCH_HZ 700

/* Noise tools of a version-2 block, each on its own, in any mode.
   NOISE_BLANKER: impulses above blankerLevel times the average level (0 for
     the default) are blanked before the transform.
   NOTCH: steady carriers in the passband are removed (not in CW modes).
   NOISE_REDUCTION: noise between the words of speech is reduced;
     reductionLevel 0..1 sets how strongly (0 for the default). */
#define SDR_TOOL_NOISE_BLANKER 0x1u
#define SDR_TOOL_NOTCH 0x2u
#define SDR_TOOL_NOISE_REDUCTION 0x4u
#define SDR_TOOL_ALL 0x7u

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

/* The tail of a version-2 block; all zero is the chain of version 1. */
typedef struct SdrReceiveModes {
  uint8_t mode;          /* SDR_MODE_* */
  int32_t pitchHz;       /* CW tone, Hz; 0 for the default */
  int32_t fmDeviationHz; /* FM peak deviation, Hz; 0 for 5000 */
  uint32_t tools;        /* SDR_TOOL_* bits */
  double blankerLevel;   /* times the average level; 0 for the default */
  double reductionLevel; /* 0..1; 0 for the default */
  double fmSquelchLevel; /* 0 off, else 0..1 */
} SdrReceiveModes;

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

/* Writes a version-2 block: p (its version set to 2) and the tail m. */
static inline void sdrEncodeParamsV2(const SdrReceiveParams* p,
                                     const SdrReceiveModes* m,
                                     uint8_t block[SDR_PARAM_BLOCK_V2_BYTES]) {
  memset(block, 0, SDR_PARAM_BLOCK_V2_BYTES);
  sdrEncodeParams(p, block);
  block[SDR_PARAM_OFFSET_VERSION] = SDR_PARAM_VERSION_MODES;
  block[SDR_PARAM_OFFSET_MODE] = m->mode;
  memcpy(block + SDR_PARAM_OFFSET_PITCH_HZ, &m->pitchHz, 4);
  memcpy(block + SDR_PARAM_OFFSET_FM_DEVIATION_HZ, &m->fmDeviationHz, 4);
  memcpy(block + SDR_PARAM_OFFSET_TOOLS, &m->tools, 4);
  memcpy(block + SDR_PARAM_OFFSET_BLANKER_LEVEL, &m->blankerLevel, 8);
  memcpy(block + SDR_PARAM_OFFSET_REDUCTION_LEVEL, &m->reductionLevel, 8);
  memcpy(block + SDR_PARAM_OFFSET_FM_SQUELCH_LEVEL, &m->fmSquelchLevel, 8);
}

/* The passband a mode starts with (lowCutHz, highCutHz of its block), Hz:
   single sideband 300..2700; CW 250 Hz either side of the pitch (pitchHz 0
   for the default); AM and SAM 100..4500; FM 300 and the deviation's Carson
   bandwidth (fmDeviationHz 0 for 5000). 0..0 for an unknown mode. */
static inline void sdrModePassband(uint8_t mode, int32_t pitchHz,
                                   int32_t fmDeviationHz, int32_t* lowCutHz,
                                   int32_t* highCutHz) {
  const int32_t pitch = pitchHz != 0 ? pitchHz : SDR_DEFAULT_PITCH_HZ;
  const int32_t deviation = fmDeviationHz != 0 ? fmDeviationHz : 5000;
  int32_t low = 0, high = 0;
  switch (mode) {
    case SDR_MODE_SIDEBAND: low = 300; high = 2700; break;
    case SDR_MODE_CW:
    case SDR_MODE_CW_REVERSED: low = pitch - 250; high = pitch + 250; break;
    case SDR_MODE_AM:
    case SDR_MODE_SAM:
    case SDR_MODE_SAM_UPPER:
    case SDR_MODE_SAM_LOWER: low = 100; high = 4500; break;
    case SDR_MODE_FM:
      low = 300;
      high = deviation + 3000 < SDR_MAX_FM_CUT_HZ ? deviation + 3000
                                                  : SDR_MAX_FM_CUT_HZ;
      break;
    default: break;
  }
  *lowCutHz = low;
  *highCutHz = high;
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
