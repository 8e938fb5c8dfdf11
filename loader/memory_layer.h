// The memory and library services the image loader runs on: reserving,
// committing, decommitting, protecting and releasing address space, and
// loading shared libraries by name. Every address range is in bytes; ranges
// are widened to whole pages the way the loader's image format expects.
// Callable from any thread; nothing here keeps state beyond the counters.
#pragma once

#include <cstddef>
#include <cstdint>

namespace bw::mem {

// Page-protection values of the image format's platform, as the loader's
// section table uses them. Only the low byte selects access; NoCache (0x200)
// is accepted and ignored.
enum PageProtection : std::uint32_t {
  PageNoAccess = 0x01,
  PageReadOnly = 0x02,
  PageReadWrite = 0x04,
  PageWriteCopy = 0x08,
  PageExecute = 0x10,
  PageExecuteRead = 0x20,
  PageExecuteReadWrite = 0x40,
  PageExecuteWriteCopy = 0x80,
  PageNoCache = 0x200,
};

// Access a page protection value grants, as a combination of these bits.
enum Access : unsigned { AccessNone = 0, AccessRead = 1, AccessWrite = 2, AccessExecute = 4 };

// The access a protection value stands for; write-copy grants read and write
// (our mappings are private, so every write is a private copy). Unknown
// values give AccessNone.
unsigned accessOf(std::uint32_t protection);

std::size_t pageSize();

// Reserves `size` bytes of inaccessible address space exactly at `address`.
// Gives nullptr when that range is not free or not page aligned.
void* reserveAt(std::uintptr_t address, std::size_t size);

// Reserves `size` bytes of inaccessible address space anywhere below 4 GiB,
// or nullptr.
void* reserveBelow4G(std::size_t size);

// Makes the pages holding [address, address + size) readable and writable.
bool commit(void* address, std::size_t size);

// Drops the contents of the pages holding [address, address + size) and
// makes them inaccessible; the address space stays reserved.
bool decommit(void* address, std::size_t size);

// Gives the pages holding [address, address + size) the access of
// `protection` (a PageProtection value).
bool protect(void* address, std::size_t size, std::uint32_t protection);

// Returns a reservation made by reserveAt or reserveBelow4G (same size).
void release(void* base, std::size_t size);

// The platform's library loader. Handles are opaque; nullptr is failure.
void* openLibrary(const char* name);
// Address of the function `name` in `library`, or nullptr.
void* librarySymbol(void* library, const char* name);
// Look-up by ordinal: shared objects here have no ordinal numbers, so this
// always fails (nullptr).
void* librarySymbolByOrdinal(void* library, std::uint16_t ordinal);
void closeLibrary(void* library);

// Counters of the layer's own activity since the process started.
struct Counters {
  std::size_t reservationsMade;  // successful reserveAt/reserveBelow4G calls
  std::size_t reservationsHeld;  // made and not yet released
  std::size_t librariesHeld;     // opened and not yet closed
};
Counters counters();

}  // namespace bw::mem
