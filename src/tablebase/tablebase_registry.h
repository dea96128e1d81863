// The tables found in the folders of "SyzygyPath": which material each covers,
// how to tell a position's material from its key, and each file's mapping,
// opened on the first probe that needs it.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "board/types.h"
#include "platform/mapped_file.h"
#include "tablebase/table_file.h"

// Every material with up to seven pieces has one table: 650 without pawns
// and 861 with pawns.
constexpr int MAX_TABLE_ENTRIES = 1511;

// How far a file has got: not yet opened, ready to probe, or unusable
// (missing, unmappable or damaged) until the tables are registered again.
enum TablePartState : uint8_t { PART_CLOSED = 0, PART_READY = 1, PART_BROKEN = 2 };

struct TableEntry {
    char name[16];   // e.g. "KRPvKR"
    Key key;         // material key with the side written first as White
    Key flippedKey;  // the same with the colours exchanged
    TableMaterial material;
    bool hasDtz;
    bool hasDtm;
    // Set with release ordering once the part's file is mapped and parsed;
    // a probe that reads PART_READY with acquire ordering sees the parse.
    std::atomic<uint8_t> wdlState{PART_CLOSED};
    std::atomic<uint8_t> dtzState{PART_CLOSED};
    MappedFile wdlFile, dtzFile;
    std::unique_ptr<TableFile> wdl, dtz;
};

// Number of pieces, kings included, of the largest table found; 0 for none.
extern int tbLargest;

// Counts of the last registration.
struct TablebaseCounts {
    int wdl, dtz, dtm;
    int largestDtm;
};
TablebaseCounts tablebaseCounts();

// Forgets every table registered before (unmapping their files), then
// registers every table present in the folders of `path`, separated by ';'
// (or ':'); "" and "<empty>" register nothing. Reports incomplete files and,
// when a path was given, how many tables it found. Must not run while a
// search probes.
void initTablebases(const std::string& path);

// The table for a position's material key (either colour orientation), or
// null when none is registered.
TableEntry* findTable(Key materialCountKey);

// The parsed file of the entry's WDL or DTZ part, opening it on first use;
// null when the part is missing or unusable.
const TableFile* openTablePart(TableEntry& entry, TableKind kind);
