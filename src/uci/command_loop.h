// The UCI front-end: an input reader thread that only reads and queues lines,
// and the command processor that the main thread runs, both from its idle
// loop and from the search's periodic check (so "stop", "ponderhit" and
// "isready" are answered in the middle of a search).
#pragma once

#include <atomic>
#include <cstdio>
#include <string>

#include "control/search_limits.h"

// A command line is kept in a buffer of this size: at most 8,191 bytes of text.
// The reader cuts longer lines there and the processor says so.
constexpr int LINE_BUFFER_SIZE = 8192;
constexpr int MAX_LINE_LENGTH = LINE_BUFFER_SIZE - 1;
// Words of one line beyond this many are dropped (the processor says so).
constexpr int MAX_TOKENS = 2048;

// Sets quitRequested (core/engine_state.h) once, with an atomic exchange: by
// "quit", the end of input or a console signal; never cleared. The next
// processOneCommand() call ends the program.
void requestQuit();

// Reads one line (without its newline) from `in`, keeping at most
// MAX_LINE_LENGTH bytes; `truncated` tells whether more were dropped. Returns
// false at the end of input or on a read error when nothing was read. A read
// interrupted by a signal is resumed, never taken for an error.
bool readInputLine(FILE* in, std::string& line, bool& truncated);

// Whether the reader stops after queueing this line: its first four bytes are
// "quit", or its first word, as the processor will see it, is "quit". The
// second test matters: the processor joins the reader when it handles "quit",
// so the reader must not be left waiting for more input.
bool lineEndsInput(const std::string& line);

// Starts the reader thread on standard input (UCI mode only).
void startReaderThread();
// The reader thread's body.
void readerThreadMain();

// The main thread's loop: sleeps until a line is queued, carries it out, and
// returns once quitRequested is set.
void commandLoop();

// Takes the oldest queued line, if any, and carries it out. Ends the process
// (status 0) when quitRequested is set.
void processOneCommand();

// Queues a line as the input reader would (for tests and fuzzing).
void queueInputLine(const std::string& line);

// Joins the reader, stops the search threads and releases the big tables.
// Safe to call more than once.
void shutDownEngine();

// Fills `limits` from the words after "go" (tokens[0] is the first of them).
// An unknown word ends the parsing unless it follows "searchmoves".
void parseGoTokens(char* const* tokens, int count, SearchLimits& limits);
