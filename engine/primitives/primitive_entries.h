// The eleven primitive entries the receive chain calls, as a table of
// function pointers. The engine fills it by binding names (see the engine's
// signal_library.h); directPrimitives() gives the same functions without a
// binding, for programs that run the chain themselves.
#pragma once

#include "primitives/nsp.h"

namespace bw {

struct PrimitiveEntries {
#define BW_PRIMITIVE_ENTRY(name) decltype(&nsp::name) name = nullptr;
  BW_PRIMITIVES(BW_PRIMITIVE_ENTRY)
#undef BW_PRIMITIVE_ENTRY

  // True when every entry is set; the chain runs only then.
  bool complete() const;
};

// Every entry pointing at this library's own implementation.
PrimitiveEntries directPrimitives();

}  // namespace bw
