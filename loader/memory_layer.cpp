#include "loader/memory_layer.h"

#include <dlfcn.h>
#include <sys/mman.h>
#include <unistd.h>

#include <atomic>

namespace bw::mem {

namespace {
std::atomic<std::size_t> g_reservationsMade{0};
std::atomic<std::size_t> g_reservationsHeld{0};
std::atomic<std::size_t> g_librariesHeld{0};

constexpr std::uint64_t k4G = std::uint64_t{1} << 32;

// The whole pages holding [address, address + size); false when empty.
bool pageSpan(void* address, std::size_t size, void*& first, std::size_t& length) {
  if (size == 0) return false;
  const std::uintptr_t page = pageSize();
  const auto a = reinterpret_cast<std::uintptr_t>(address);
  const std::uintptr_t begin = a & ~(page - 1);
  const std::uintptr_t end = (a + size + page - 1) & ~(page - 1);
  first = reinterpret_cast<void*>(begin);
  length = end - begin;
  return true;
}

int protFlags(unsigned access) {
  int prot = PROT_NONE;
  if (access & AccessRead) prot |= PROT_READ;
  if (access & AccessWrite) prot |= PROT_WRITE;
  if (access & AccessExecute) prot |= PROT_EXEC;
  return prot;
}

void* reserved(void* p) {
  g_reservationsMade.fetch_add(1, std::memory_order_relaxed);
  g_reservationsHeld.fetch_add(1, std::memory_order_relaxed);
  return p;
}

constexpr int kReserveFlags = MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE;
}  // namespace

unsigned accessOf(std::uint32_t protection) {
  switch (protection & 0xFF) {
    case PageNoAccess: return AccessNone;
    case PageReadOnly: return AccessRead;
    case PageReadWrite:
    case PageWriteCopy: return AccessRead | AccessWrite;
    case PageExecute: return AccessExecute;
    case PageExecuteRead: return AccessExecute | AccessRead;
    case PageExecuteReadWrite:
    case PageExecuteWriteCopy: return AccessExecute | AccessRead | AccessWrite;
    default: return AccessNone;
  }
}

std::size_t pageSize() {
  static const std::size_t size = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
  return size;
}

void* reserveAt(std::uintptr_t address, std::size_t size) {
  if (size == 0 || address == 0 || address % pageSize() != 0) return nullptr;
  void* p = mmap(reinterpret_cast<void*>(address), size, PROT_NONE,
                 kReserveFlags | MAP_FIXED_NOREPLACE, -1, 0);
  if (p == MAP_FAILED) return nullptr;
  // Kernels that predate MAP_FIXED_NOREPLACE take the address as a hint.
  if (reinterpret_cast<std::uintptr_t>(p) != address) {
    munmap(p, size);
    return nullptr;
  }
  return reserved(p);
}

void* reserveBelow4G(std::size_t size) {
  if (size == 0) return nullptr;
  void* p = mmap(nullptr, size, PROT_NONE, kReserveFlags | MAP_32BIT, -1, 0);
  if (p == MAP_FAILED) return nullptr;
  if (reinterpret_cast<std::uintptr_t>(p) + size > k4G) {
    munmap(p, size);
    return nullptr;
  }
  return reserved(p);
}

bool commit(void* address, std::size_t size) {
  void* first;
  std::size_t length;
  if (!pageSpan(address, size, first, length)) return true;
  return mprotect(first, length, PROT_READ | PROT_WRITE) == 0;
}

bool decommit(void* address, std::size_t size) {
  void* first;
  std::size_t length;
  if (!pageSpan(address, size, first, length)) return true;
  if (mprotect(first, length, PROT_NONE) != 0) return false;
  // Private anonymous pages read back as zero once committed again.
  return madvise(first, length, MADV_DONTNEED) == 0;
}

bool protect(void* address, std::size_t size, std::uint32_t protection) {
  void* first;
  std::size_t length;
  if (!pageSpan(address, size, first, length)) return true;
  return mprotect(first, length, protFlags(accessOf(protection))) == 0;
}

void release(void* base, std::size_t size) {
  if (base == nullptr) return;
  if (munmap(base, size) == 0) {
    g_reservationsHeld.fetch_sub(1, std::memory_order_relaxed);
  }
}

void* openLibrary(const char* name) {
  if (name == nullptr || *name == '\0') return nullptr;
  void* handle = dlopen(name, RTLD_NOW | RTLD_LOCAL);
  if (handle != nullptr) g_librariesHeld.fetch_add(1, std::memory_order_relaxed);
  return handle;
}

void* librarySymbol(void* library, const char* name) {
  if (library == nullptr || name == nullptr) return nullptr;
  return dlsym(library, name);
}

void* librarySymbolByOrdinal(void*, std::uint16_t) { return nullptr; }

void closeLibrary(void* library) {
  if (library == nullptr) return;
  dlclose(library);
  g_librariesHeld.fetch_sub(1, std::memory_order_relaxed);
}

Counters counters() {
  return {g_reservationsMade.load(std::memory_order_relaxed),
          g_reservationsHeld.load(std::memory_order_relaxed),
          g_librariesHeld.load(std::memory_order_relaxed)};
}

}  // namespace bw::mem
