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
//
// Does nothing once the process has begun to exit (engineWatchExit), and
// nothing in a process forked from the one that attached: there the streams,
// their threads and the sound-server connection are the parent's, and the
// state stays as the fork left it.
void engineDetach();

// Arranges for the process's exit (return from main, exit(), including in a
// forked child) to find the engine safe: an exit handler, run before the
// libraries' unload hooks, stops streaming in the process that attached (no
// engine thread then runs into the host's or the sound libraries' own exit
// tear-down) and marks the process as exiting, so that engineDetach leaves
// everything else alone: the sound libraries may already have finished, the
// host's other threads may still call in, and the system reclaims the rest.
// The handler belongs to this library: unloading it first (dlclose) runs it
// after engineDetach, when it finds nothing to do. Call once at load and
// again when streaming first starts; the later registration runs earlier at
// exit, before the destructors of statics made before the first start.
void engineWatchExit();

// True between engineAttach and engineDetach.
bool engineAttached();

}  // namespace bw
