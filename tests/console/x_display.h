// A private virtual X server for the tests that drive the real console
// window, and the look-up of its top-level windows by title.
#pragma once

#include <X11/Xlib.h>
#include <sys/types.h>

#include <string>

namespace lanternfly::test {

// Starts Xvfb (1024x768x24, no TCP) on a free display and waits until it is
// ready. Sets `display` to ":N" (left unchanged when the server did not
// start) and returns its PID, which the caller ends with stopXServer.
pid_t startXServer(std::string& display);
// SIGTERM and reaps it; nothing for a PID <= 0.
void stopXServer(pid_t server);

// The viewable top-level window with this title, or 0.
Window windowNamed(Display* x, const char* title);
// Polls until windowNamed(title) is (or is no longer) there; false on timeout.
bool waitForWindow(Display* x, const char* title, bool present, int seconds);

}  // namespace lanternfly::test
