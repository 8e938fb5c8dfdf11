// Engine start-up and tear-down. libBrackwell.so runs them when it is loaded
// and unloaded; tests and tools that link the engine directly call them.
#pragma once

#include <span>

#include "core/signal_library.h"

namespace bw {

// Creates the private heap, binds the eleven primitives by name from `library`
// and creates the buffer tables and work arrays at their initial sizes (two
// elements, ten slots, all zero). If a name cannot be bound it writes
// "Error: No nsp.dll" to standard error, binds nothing, and the chain will
// not run; start-up still succeeds. Calling it again first tears down.
void engineAttach(std::span<const NamedExport> library = signalLibraryExports());

// Stops the engine if it runs, ends the audio layer's use of the sound
// system, frees the data buffers and destroys the private heap with every
// table and work array in it. Safe to call when not attached.
void engineDetach();

// True between engineAttach and engineDetach.
bool engineAttached();

}  // namespace bw
