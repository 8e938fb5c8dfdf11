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
#define BW_PRIMITIVE_EXPORT(name) {#name, address(&nsp::name)},
      BW_PRIMITIVES(BW_PRIMITIVE_EXPORT)
#undef BW_PRIMITIVE_EXPORT
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
#define BW_PRIMITIVE_BIND(name) bindOne(table, #name, bound.name, missing);
  BW_PRIMITIVES(BW_PRIMITIVE_BIND)
#undef BW_PRIMITIVE_BIND
  // Bind all or nothing: a chain with some entries missing must not run.
  out = missing ? PrimitiveEntries{} : bound;
  return missing;
}

}  // namespace bw
