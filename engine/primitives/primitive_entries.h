// The eleven primitive entries the receive chain calls, as a table of
// function pointers. The engine fills it by binding names (see the engine's
// signal_library.h); directPrimitives() gives the same functions without a
// binding, for programs that run the chain themselves.
#pragma once

#include "primitives/nsp.h"

namespace bw {

struct PrimitiveEntries {
  decltype(&nsp::nspzrFftNip) nspzrFftNip = nullptr;
  decltype(&nsp::nspdbrCartToPolar) nspdbrCartToPolar = nullptr;
  decltype(&nsp::nspdbMpy2) nspdbMpy2 = nullptr;
  decltype(&nsp::nspdbAdd2) nspdbAdd2 = nullptr;
  decltype(&nsp::nspdbrPolarToCart) nspdbrPolarToCart = nullptr;
  decltype(&nsp::nspdbAdd3) nspdbAdd3 = nullptr;
  decltype(&nsp::nspdMax) nspdMax = nullptr;
  decltype(&nsp::nspdMin) nspdMin = nullptr;
  decltype(&nsp::nspdbMpy1) nspdbMpy1 = nullptr;
  decltype(&nsp::nspdbThresh1) nspdbThresh1 = nullptr;
  decltype(&nsp::nspdFirBandpass) nspdFirBandpass = nullptr;

  // True when every entry is set; the chain runs only then.
  bool complete() const;
};

// Every entry pointing at this library's own implementation.
PrimitiveEntries directPrimitives();

}  // namespace bw
