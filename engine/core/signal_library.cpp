#include "core/signal_library.h"

#include <cstring>

#include "primitives/primitive_entries.h"

namespace bw {

namespace {
template <typename F>
void* address(F* f) {
  return reinterpret_cast<void*>(f);
}

template <typename F>
bool bindOne(std::span<const NamedExport> table, const char* name, F*& entry,
             const char*& missing) {
  void* p = findNamedExport(table, name);
  if (p == nullptr) {
    if (missing == nullptr) missing = name;
    return false;
  }
  entry = reinterpret_cast<F*>(p);
  return true;
}
}  // namespace

std::span<const NamedExport> signalLibraryExports() {
  // A function-local table: built on first use, so that it is ready even
  // when the library's load hook runs before the file's static initialisers.
  static const NamedExport kExports[] = {
      {"nspzrFftNip", address(&nsp::nspzrFftNip)},
      {"nspdbrCartToPolar", address(&nsp::nspdbrCartToPolar)},
      {"nspdbMpy2", address(&nsp::nspdbMpy2)},
      {"nspdbAdd2", address(&nsp::nspdbAdd2)},
      {"nspdbrPolarToCart", address(&nsp::nspdbrPolarToCart)},
      {"nspdbAdd3", address(&nsp::nspdbAdd3)},
      {"nspdMax", address(&nsp::nspdMax)},
      {"nspdMin", address(&nsp::nspdMin)},
      {"nspdbMpy1", address(&nsp::nspdbMpy1)},
      {"nspdbThresh1", address(&nsp::nspdbThresh1)},
      {"nspdFirBandpass", address(&nsp::nspdFirBandpass)},
  };
  return kExports;
}

void* findNamedExport(std::span<const NamedExport> table, const char* name) {
  if (name == nullptr) return nullptr;
  for (const NamedExport& e : table) {
    if (e.name != nullptr && std::strcmp(e.name, name) == 0) return e.address;
  }
  return nullptr;
}

const char* bindPrimitives(std::span<const NamedExport> table,
                           PrimitiveEntries& out) {
  PrimitiveEntries bound;
  const char* missing = nullptr;
  bindOne(table, "nspzrFftNip", bound.nspzrFftNip, missing);
  bindOne(table, "nspdbrCartToPolar", bound.nspdbrCartToPolar, missing);
  bindOne(table, "nspdbMpy2", bound.nspdbMpy2, missing);
  bindOne(table, "nspdbAdd2", bound.nspdbAdd2, missing);
  bindOne(table, "nspdbrPolarToCart", bound.nspdbrPolarToCart, missing);
  bindOne(table, "nspdbAdd3", bound.nspdbAdd3, missing);
  bindOne(table, "nspdMax", bound.nspdMax, missing);
  bindOne(table, "nspdMin", bound.nspdMin, missing);
  bindOne(table, "nspdbMpy1", bound.nspdbMpy1, missing);
  bindOne(table, "nspdbThresh1", bound.nspdbThresh1, missing);
  bindOne(table, "nspdFirBandpass", bound.nspdFirBandpass, missing);
  // Bind all or nothing: a chain with some entries missing must not run.
  out = missing ? PrimitiveEntries{} : bound;
  return missing;
}

}  // namespace bw
