#include "platform/console_signals.h"

#include <signal.h>

#include <cstring>

std::atomic<bool> consoleClosed{false};

// A lock-free atomic store is one of the few things a signal handler may do.
static_assert(std::atomic<bool>::is_always_lock_free);

// Runs in signal context: only the flag, nothing else (no I/O, no locks).
static void onConsoleSignal(int) {
    consoleClosed.store(true);
}

// The handlers are installed with SA_RESTART. The reader thread spends its
// life blocked in read() on standard input; without SA_RESTART a Ctrl-C
// would make that read fail with EINTR, which the C stream reports as a read
// error, and the reader would end at once instead of at the next line. With
// SA_RESTART the kernel resumes the read, nothing already read is dropped,
// and the next line ends the program cleanly. The same goes for the main
// thread's condition-variable wait and for writes to standard output.
//
// SIGPIPE is ignored so that a front-end that closes its end of our output
// pipe costs us a failed write (EPIPE), not the process.
void installConsoleSignalHandlers() {
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = onConsoleSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGHUP, &action, nullptr);

    struct sigaction ignore;
    std::memset(&ignore, 0, sizeof ignore);
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    sigaction(SIGPIPE, &ignore, nullptr);
}
