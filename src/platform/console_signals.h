// Console control events on a POSIX terminal or pipe: Ctrl-C (SIGINT), a
// polite kill (SIGTERM) and a closed terminal (SIGHUP) must not kill the
// engine in the middle of a search. They only raise `consoleClosed`; the
// input reader sees it at the next line it reads and ends the program in
// order, exactly as after "quit".
#pragma once

#include <atomic>

// Raised from signal context; read by the input reader thread.
extern std::atomic<bool> consoleClosed;

// Installs the handlers for SIGINT, SIGTERM and SIGHUP and ignores SIGPIPE.
// Call first thing in main, before any other thread exists.
void installConsoleSignalHandlers();
