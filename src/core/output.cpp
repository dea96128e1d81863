// Console output and the optional log file.
#include "core/output.h"

#include <cstdarg>

#include "platform/clock.h"
#include "platform/threads.h"

// The open log, or none. Guarded by logMutex: the input reader logs every line
// it reads while the main thread logs search diagnostics and may close or
// switch the file through "setoption name Log File".
static FILE* logFile = nullptr;
static Mutex logMutex;

// Standard output is unbuffered (main sets that up), so one formatted write
// leaves as one piece; the flush keeps the promise even if someone turns
// buffering back on.
void printOut(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::vfprintf(stdout, format, args);
    va_end(args);
    std::fflush(stdout);
}

void printTo(FILE* stream, const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::vfprintf(stream, format, args);
    va_end(args);
    std::fflush(stream);
}

// Writes "%10.3f %s": seconds since entry, a blank, then the message formatted
// into 256 bytes (so cut to 255 characters). Messages bring their own newline;
// when the cut removes it we write one anyway, so that the next entry still
// starts a line of its own. One write and one flush per entry, under the
// mutex, so lines of the two threads never mix.
void logLine(const char* format, ...) {
    MutexLock lock(logMutex);
    if (!logFile) return;
    char message[256];
    va_list args;
    va_start(args, format);
    int length = std::vsnprintf(message, sizeof message, format, args);
    va_end(args);
    if (length < 0) return;
    bool cut = length >= int(sizeof message);
    const char* ending = cut && message[sizeof message - 2] != '\n' ? "\n" : "";
    std::fprintf(logFile, "%10.3f %s%s", elapsedSeconds() - entryTime, message, ending);
    std::fflush(logFile);
}

// Closes the current log and opens `name` for appending (an empty name means
// no log). A file that cannot be opened leaves logging off without a message;
// the "Log file is" line has already told the user which name we tried.
void setLogFile(const std::string& name) {
    MutexLock lock(logMutex);
    if (logFile) {
        std::fclose(logFile);
        logFile = nullptr;
    }
    if (name.empty()) return;
    printOut("info string Log file is %s\n", name.c_str());
    logFile = std::fopen(name.c_str(), "a+");
}
