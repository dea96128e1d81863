// The hash file: the transposition table's cluster array written to disk byte
// for byte, so that what one session learnt can be loaded by the next. There
// is no header: a file fits only a table of the same byte size, which is what
// the loader checks.
#pragma once

#include <string>

struct TranspositionTable;

// Writes the table's image to `fileName` ("Saving Hash", then "Hash Saved",
// or "failed to open" / "error writing file"; all as "info string" lines).
void writeHashFile(const TranspositionTable& table, const std::string& fileName);

// Reads an image of the same size back into the table. A missing file, a
// file of another size and a short read are reported and leave the table
// sound (a short read keeps what was read). Whatever happened, every entry's
// generation and the table's are reset to 0 and the table is marked as
// loaded, so the next "go" counts the loaded entries as current.
void readHashFile(TranspositionTable& table, const std::string& fileName);

// The "Save Hash to File" and "Load Hash from File" buttons: the shared table
// and the "Hash File Name" option.
void saveHashToFile();
void loadHashFromFile();
