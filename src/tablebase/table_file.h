// The layout of one table file (win/draw/loss or distance-to-zeroing) and the
// decoding of one stored value. Files are untrusted input: parsing checks
// every offset, count and size against the file, and a lookup never reads
// outside the mapping, whatever the file holds.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "tablebase/table_index.h"

constexpr uint32_t WDL_MAGIC = 0x5D23E871;
constexpr uint32_t DTZ_MAGIC = 0xA50C66D7;
constexpr uint32_t DTM_MAGIC = 0x88AC504B;

enum class TableKind { Wdl, Dtz };

// The material a file must describe, from its name: counts per table colour
// (0 = the side written first) and piece type, kings included.
struct TableMaterial {
    uint8_t count[2][7];
    uint8_t pieceCount;
    bool hasPawns;
    bool symmetric;
};

// One compressed stream with its index: the values of one side to move and
// file group.
struct SubTable {
    PieceEncoding encoding;
    bool singleValue;
    uint16_t constant;  // the value of a single-value sub-table
    uint8_t flags;      // distance tables: stored side, maps, plies
    uint8_t blockLog;   // log2 of the bytes of one block
    uint8_t indexBits;  // log2 of the span of one sparse-index entry
    uint8_t minLength, maxLength;
    uint32_t blocks;         // data blocks
    uint64_t lengthEntries;  // block-length entries (at least `blocks`)
    uint16_t symbolCount;
    const uint8_t* symbols;       // 3 bytes per symbol
    const uint8_t* firstSymbol;   // u16 per code length minLength..maxLength
    const uint8_t* sparseIndex;   // 6 bytes per entry
    const uint8_t* blockLengths;  // u16 per entry
    const uint8_t* data;
    uint64_t sparseEntries;
    int64_t base[33];                 // smallest code of each length
    std::vector<uint32_t> runLength;  // values a symbol stands for, minus one
};

// Distance-table value maps of one file group: four maps (wins, losses,
// cursed wins, blessed losses), each a count and 8- or 16-bit entries.
struct ValueMaps {
    const uint8_t* start[4];
    uint16_t count[4];
    bool wide;
};

struct TableFile {
    TableKind kind;
    int fileGroups;  // 4 for pawn tables, else 1
    int sides;       // sub-tables per file group
    SubTable sub[4][2];
    ValueMaps maps[4];
};

// Parses the headers of a mapped table file of `kind` for `material` into
// `out`. Returns false when the file is not a sound table of that material.
// The sub-tables point into `data`, which must outlive `out`.
bool parseTableFile(const uint8_t* data, size_t size, const TableMaterial& material, TableKind kind,
                    TableFile& out);

// The value stored at `index` of the sub-table; -1 when the stream does not
// decode (a damaged file).
int readStoredValue(const SubTable& sub, uint64_t index);
