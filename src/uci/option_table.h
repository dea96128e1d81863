// The table of UCI options: one row per option, bound to a process-wide
// variable (core/options.h) and optionally to a callback run when it is set.
#pragma once

#include <cstdint>
#include <string>

// Creates all rows in creation order and stores every default in its variable.
// Called once at start-up, before any other thread runs.
void buildOptionTable();

// Writes the option lines of the "uci" answer, in creation order.
void printUciOptions();

struct SetOptionResult {
    bool found;
    bool changed;
};

// Sets an option by name (case-insensitive). Unknown names report found = false
// (the caller prints the "not recognized" line); a value equal to the current
// one shown as text reports changed = false and does nothing.
SetOptionResult setOption(const std::string& name, const std::string& valueText);

// The current value of an option shown as text, as the "uci" answer prints it
// ("<empty>" for an empty string, "<none>" for a button). Empty string when the
// option does not exist.
std::string optionValueText(const std::string& name);

// Hooks through which option callbacks reach the subsystems they drive. Each
// subsystem installs its own at start-up; while a hook is null the option only
// stores its value and prints its message.
extern void (*onHashResize)(int mb);      // release the transposition table; build one of mb MB when mb > 0
extern void (*onHashClear)();             // zero the transposition table
extern void (*onHashSave)();              // write the table to "Hash File Name"
extern void (*onHashLoad)();              // read the table from "Hash File Name"
extern void (*onBookFileChange)();        // close the book; reopen "Book File" when "Book Moves" is not 0
extern void (*onSyzygyPathChange)();      // re-initialise the tablebases from "SyzygyPath"
extern int (*largestTablebase)();         // pieces in the largest tablebase found (0 when none)
extern bool (*onMctsHashResize)(int mb);  // rebuild the Monte-Carlo node store with mb MB; false when refused
extern void (*onWeightsFileChange)();     // load the network from "WeightsFile"

// Size in MB of the transposition table now built (0 = none). The table's
// start-up build sets it; "Hash" compares against it to clear instead of rebuild.
extern int32_t hashAllocatedMb;
