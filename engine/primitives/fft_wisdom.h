// FFTW wisdom kept in the user's cache folder, so that the transform plans are
// measured once per machine rather than at every start.
//
// The file is $XDG_CACHE_HOME/brackwell/fftw-wisdom, or
// $HOME/.cache/brackwell/fftw-wisdom when XDG_CACHE_HOME is unset, empty or
// not absolute. It is read before the first plan and rewritten after new
// plans, through a temporary file renamed over it, so a reader never sees a
// half-written file and two processes writing at once leave one complete
// file. A missing, unreadable or corrupt file, or a folder that cannot be
// made or written, only means planning as if there were no cache. Only a
// regular file is read or replaced: anything else at the path (a folder, a
// FIFO, a device) is left alone and the wisdom is not kept.
//
// Callers hold the planner lock (fft_plan.cpp): FFTW's wisdom is global state.
#pragma once

#include <string>

namespace bw::nsp {

// The wisdom file for these environment values (either may be null); empty
// when neither gives a usable folder.
std::string wisdomFilePath(const char* xdgCacheHome, const char* home);

// Adds the wisdom in `path` to FFTW's; false (FFTW's wisdom unchanged) if the
// file is missing, not a regular file or not valid wisdom. Never blocks on
// what is at the path.
bool importWisdomFile(const std::string& path);

// True when `path` is a wisdom file that can be written: its folder exists
// (or can be made) and is writable, and the path holds a regular file or
// nothing. Makes the folder.
bool wisdomWritable(const std::string& path);

// Writes FFTW's wisdom, merged with what `path` holds now, to `path`,
// making its folder if needed. False if it could not be written, or if
// something other than a regular file is at the path.
bool exportWisdomFile(const std::string& path);

}  // namespace bw::nsp
