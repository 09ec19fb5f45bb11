// The signals that end a process from outside (SIGTERM from a kill or the session's end, SIGHUP
// from a closed terminal, SIGINT from Ctrl+C in the terminal) become the program's normal quit,
// which writes the changed page files back.
#pragma once

class QObject;

// From now on until owner is destroyed, the first SIGTERM, SIGHUP or SIGINT quits through the main
// window's quit (or quits the event loop when there is no main window yet); a second one ends
// the process at once. Does nothing where the platform has no such signals.
void installQuitSignals(QObject* owner);
