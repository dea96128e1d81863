// Fuzz target: the tablebase file parser and the value decoder on untrusted
// table files.
//
// The input is a table file. Its material is read from the file itself (the
// piece count in the flags byte and the first descriptor's piece codes), so
// that mutated real tables get past the material check and into the pair
// headers, the symbol grammar and the block walk. When a file parses, values
// are decoded at both ends of every sub-table and at indices spread over it.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "tablebase/table_file.h"

namespace {

// The material the file claims: counts of the piece codes of the first
// descriptor. False when the codes cannot be a table's.
bool claimedMaterial(const uint8_t* data, size_t size, TableMaterial& m) {
    if (size < 16) return false;
    int pieces = data[4] >> 4;
    if (pieces < 2 || pieces > MAX_TABLE_PIECES) return false;
    bool bothPawnsByte = false;
    m = {};
    // The descriptor starts after the order byte (and, for tables with pawns
    // on both sides, the second order byte): try without first.
    for (int attempt = 0; attempt < 2; attempt++) {
        m = {};
        const uint8_t* codes = data + 6 + attempt;
        for (int i = 0; i < pieces; i++) {
            int code = codes[i] & 15, type = code & 7;
            if (type < 1 || type > 6) return false;
            m.count[code >> 3][type]++;
        }
        m.pieceCount = uint8_t(pieces);
        m.hasPawns = m.count[0][1] + m.count[1][1] > 0;
        bothPawnsByte = m.count[0][1] > 0 && m.count[1][1] > 0;
        if (bothPawnsByte == (attempt == 1)) break;
    }
    m.symmetric = std::memcmp(m.count[0], m.count[1], sizeof m.count[0]) == 0;
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    TableMaterial material;
    if (!claimedMaterial(data, size, material)) return 0;
    static TableFile file;
    for (TableKind kind : {TableKind::Wdl, TableKind::Dtz}) {
        if (!parseTableFile(data, size, material, kind, file)) continue;
        for (int t = 0; t < file.fileGroups; t++)
            for (int side = 0; side < file.sides; side++) {
                const SubTable& sub = file.sub[t][side];
                uint64_t n = sub.encoding.size;
                uint64_t step = n / 61 + 1;
                for (uint64_t index = 0; index < n; index += step) readStoredValue(sub, index);
                readStoredValue(sub, n - 1);
                readStoredValue(sub, n);
            }
    }
    return 0;
}
