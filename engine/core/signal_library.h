// The signal library: binding the eleven primitive entries the chain calls by
// exact, case-sensitive name from a table of named exports.
#pragma once

#include <span>

namespace bw {

// The bound entries (primitives/primitive_entries.h). Declared only, so that
// the exports can start the engine without seeing the primitives layer.
struct PrimitiveEntries;

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
