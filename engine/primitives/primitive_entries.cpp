#include "primitives/primitive_entries.h"

namespace bw {

bool PrimitiveEntries::complete() const {
#define BW_PRIMITIVE_SET(name) && name != nullptr
  return true BW_PRIMITIVES(BW_PRIMITIVE_SET);
#undef BW_PRIMITIVE_SET
}

PrimitiveEntries directPrimitives() {
  PrimitiveEntries e;
#define BW_PRIMITIVE_DIRECT(name) e.name = &nsp::name;
  BW_PRIMITIVES(BW_PRIMITIVE_DIRECT)
#undef BW_PRIMITIVE_DIRECT
  return e;
}

}  // namespace bw
