#include "primitives/primitive_entries.h"

namespace bw {

bool PrimitiveEntries::complete() const {
  return nspzrFftNip && nspdbrCartToPolar && nspdbMpy2 && nspdbAdd2 &&
         nspdbrPolarToCart && nspdbAdd3 && nspdMax && nspdMin && nspdbMpy1 &&
         nspdbThresh1 && nspdFirBandpass;
}

PrimitiveEntries directPrimitives() {
  PrimitiveEntries e;
  e.nspzrFftNip = &nsp::nspzrFftNip;
  e.nspdbrCartToPolar = &nsp::nspdbrCartToPolar;
  e.nspdbMpy2 = &nsp::nspdbMpy2;
  e.nspdbAdd2 = &nsp::nspdbAdd2;
  e.nspdbrPolarToCart = &nsp::nspdbrPolarToCart;
  e.nspdbAdd3 = &nsp::nspdbAdd3;
  e.nspdMax = &nsp::nspdMax;
  e.nspdMin = &nsp::nspdMin;
  e.nspdbMpy1 = &nsp::nspdbMpy1;
  e.nspdbThresh1 = &nsp::nspdbThresh1;
  e.nspdFirBandpass = &nsp::nspdFirBandpass;
  return e;
}

}  // namespace bw
