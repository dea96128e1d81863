// Console output and the optional log file.
#pragma once

#include <cstdio>
#include <string>

// Formatted write to standard output, flushed at once.
void printOut(const char* format, ...) __attribute__((format(printf, 1, 2)));
// Formatted write to a given stream (standard error for error messages).
void printTo(FILE* stream, const char* format, ...) __attribute__((format(printf, 2, 3)));
// Time-stamped line in the log file, if one is open; cut to 255 characters.
void logLine(const char* format, ...) __attribute__((format(printf, 1, 2)));
// Closes the current log and opens the named one for appending ("" = no log).
void setLogFile(const std::string& name);
