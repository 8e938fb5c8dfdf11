// The signal library: the eleven primitive entries the chain calls, and their
// binding by exact, case-sensitive name from a table of named exports.
#pragma once

#include <span>

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

  // True when every entry is bound; the chain runs only then.
  bool complete() const;
};

// One named export of the signal library.
struct NamedExport {
  const char* name;
  void* address;
};

// The engine's own primitives, by their library names.
std::span<const NamedExport> signalLibraryExports();

// Address of the export whose name equals `name` byte for byte (case
// sensitive, up to and including the terminating zero), or nullptr.
void* findNamedExport(std::span<const NamedExport> table, const char* name);

// Looks up the eleven names in the library's order. On success fills `out`
// and returns nullptr; otherwise leaves `out` all empty and returns the first
// name that could not be bound.
const char* bindPrimitives(std::span<const NamedExport> table,
                           PrimitiveEntries& out);

}  // namespace bw
