// Ends the console's event loop when the process is asked to stop (SIGTERM,
// SIGINT, SIGHUP), so that a desktop session ending or a Ctrl-C in the
// terminal shuts down as closing the window does: the display thread stops,
// the engine stops, settings are saved and the library is unloaded. This
// holds whatever is open: boxes, input dialogs and menus are dismissed (as
// cancelled) and their own event loops end with the main one.
#ifndef LANTERNFLY_QUIT_SIGNALS_H
#define LANTERNFLY_QUIT_SIGNALS_H

namespace lanternfly {

// Call once on the main thread after the QApplication exists. The handlers
// only write one byte to a pipe; whichever event loop is running reads it
// and ends them all. Returns false (and leaves the default actions) when the
// pipe cannot be made.
bool quitOnStopSignals();

}  // namespace lanternfly

#endif
