#include "tablebase/table_file.h"

#include <cstring>

namespace {

// Little-endian reads at a position already checked to lie in the file.
inline uint16_t readU16(const uint8_t* p) {
    return uint16_t(p[0] | (p[1] << 8));
}
inline uint32_t readU32(const uint8_t* p) {
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}

// A cursor over the file that refuses to move past its end: once a read
// fails, `ok` stays false and every later read yields zeros.
struct Cursor {
    const uint8_t* data;
    size_t size;
    size_t at = 0;
    bool ok = true;

    const uint8_t* take(uint64_t bytes) {
        if (!ok || bytes > size - at) {
            ok = false;
            return nullptr;
        }
        const uint8_t* p = data + at;
        at += size_t(bytes);
        return p;
    }
    uint8_t u8() {
        const uint8_t* p = take(1);
        return p ? p[0] : 0;
    }
    uint16_t u16() {
        const uint8_t* p = take(2);
        return p ? readU16(p) : 0;
    }
    uint32_t u32() {
        const uint8_t* p = take(4);
        return p ? readU32(p) : 0;
    }
    void alignTo(size_t unit) {
        size_t rounded = (at + unit - 1) / unit * unit;
        if (rounded > size) ok = false;
        at = ok ? rounded : at;
    }
};

constexpr uint32_t LEAF = 0xFFF;
constexpr uint32_t MAX_SYMBOLS = 4096;
constexpr uint32_t MAX_RUN = 1u << 30;

inline uint32_t symbolLeft(const SubTable& s, uint32_t sym) {
    const uint8_t* p = s.symbols + 3 * sym;
    return p[0] | ((p[1] & 15) << 8);
}
inline uint32_t symbolRight(const SubTable& s, uint32_t sym) {
    const uint8_t* p = s.symbols + 3 * sym;
    return (p[1] >> 4) | (p[2] << 4);
}

// Run lengths of every symbol, depth first. A symbol that (through its
// children) contains itself, or names a child beyond the table, makes the
// table unusable. state: 0 = not seen, 1 = being expanded, 2 = done.
bool computeRunLength(SubTable& s, uint32_t sym, std::vector<uint8_t>& state, int depth) {
    if (state[sym] == 2) return true;
    if (state[sym] == 1 || depth > int(MAX_SYMBOLS)) return false;
    state[sym] = 1;
    uint32_t left = symbolLeft(s, sym), right = symbolRight(s, sym);
    if (right == LEAF) {
        s.runLength[sym] = 0;
    } else {
        if (left >= s.symbolCount || right >= s.symbolCount) return false;
        if (!computeRunLength(s, left, state, depth + 1) || !computeRunLength(s, right, state, depth + 1))
            return false;
        uint64_t run = uint64_t(s.runLength[left]) + s.runLength[right] + 1;
        if (run > MAX_RUN) return false;
        s.runLength[sym] = uint32_t(run);
    }
    state[sym] = 2;
    return true;
}

// The pair header of one sub-table: a single value, or the code lengths,
// symbol table and block geometry of a compressed stream.
bool parsePairHeader(Cursor& c, SubTable& s, TableKind kind) {
    uint8_t flags = c.u8();
    s.flags = flags;
    if (flags & 0x80) {
        uint8_t value = c.u8();
        s.singleValue = true;
        s.constant = kind == TableKind::Wdl ? value : 0;
        return c.ok && (kind == TableKind::Dtz || value <= 4);
    }
    s.singleValue = false;
    s.blockLog = c.u8();
    s.indexBits = c.u8();
    uint8_t extra = c.u8();
    s.blocks = c.u32();
    s.maxLength = c.u8();
    s.minLength = c.u8();
    if (!c.ok || s.minLength < 1 || s.minLength > s.maxLength || s.maxLength > 32) return false;
    if (s.blockLog > 30 || s.indexBits < 1 || s.indexBits > 40) return false;
    s.lengthEntries = uint64_t(s.blocks) + extra;
    int lengths = s.maxLength - s.minLength + 1;
    s.firstSymbol = c.take(2 * uint64_t(lengths));
    s.symbolCount = c.u16();
    s.symbols = c.take(3 * uint64_t(s.symbolCount));
    if (s.symbolCount & 1) c.take(1);
    if (!c.ok || s.symbolCount == 0 || s.symbolCount > MAX_SYMBOLS) return false;

    // Canonical codes, longer codes numerically smaller: base[L] is the
    // smallest code of length L.
    s.base[s.maxLength] = 0;
    for (int len = s.maxLength - 1; len >= s.minLength; len--) {
        int64_t first = readU16(s.firstSymbol + 2 * (len - s.minLength));
        int64_t firstLonger = readU16(s.firstSymbol + 2 * (len + 1 - s.minLength));
        s.base[len] = (s.base[len + 1] + first - firstLonger) / 2;
    }

    s.runLength.assign(s.symbolCount, 0);
    std::vector<uint8_t> state(s.symbolCount, 0);
    for (uint32_t sym = 0; sym < s.symbolCount; sym++) {
        if (!computeRunLength(s, sym, state, 0)) return false;
        // Win/draw/loss leaves hold 0..4 (loss .. win, offset by 2).
        if (kind == TableKind::Wdl && symbolRight(s, sym) == LEAF && symbolLeft(s, sym) > 4) return false;
    }
    uint64_t span = uint64_t(1) << s.indexBits;
    s.sparseEntries = (s.encoding.size + span - 1) / span;
    return true;
}

// Whether the piece codes of a descriptor are exactly the table's material.
bool matchesMaterial(const uint8_t* pieces, const TableMaterial& m) {
    uint8_t count[2][7] = {};
    for (int i = 0; i < m.pieceCount; i++) {
        int colour = pieces[i] >> 3, type = pieces[i] & 7;
        if (type < 1 || type > 6) return false;
        count[colour][type]++;
    }
    return std::memcmp(count, m.count, sizeof count) == 0;
}

// Fills the piece order of one sub-table from the descriptor bytes and
// builds its numbering.
bool readEncoding(PieceEncoding& e, const uint8_t* bytes, int shift, int order, int order2, int fileGroup,
                  const TableMaterial& m) {
    e.pieceCount = m.pieceCount;
    for (int i = 0; i < m.pieceCount; i++) e.pieces[i] = (bytes[i] >> shift) & 15;
    if (!matchesMaterial(e.pieces, m)) return false;
    if (m.hasPawns) {
        int leader = e.pieces[0] >> 3;
        if ((e.pieces[0] & 7) != 1) return false;
        e.leadingPawns = m.count[leader][1];
        e.otherPawns = m.count[leader ^ 1][1];
        e.kingPairLeads = false;
    } else {
        e.leadingPawns = e.otherPawns = 0;
        bool uniquePiece = false;
        for (int colour = 0; colour < 2; colour++)
            for (int type = 1; type <= 5; type++) uniquePiece |= m.count[colour][type] == 1;
        e.kingPairLeads = !uniquePiece;
    }
    return buildPieceEncoding(e, order, order2, fileGroup);
}

}  // namespace

bool parseTableFile(const uint8_t* data, size_t size, const TableMaterial& material, TableKind kind,
                    TableFile& out) {
    Cursor c{data, size};
    uint32_t magic = c.u32();
    uint8_t flags = c.u8();
    if (!c.ok || magic != (kind == TableKind::Wdl ? WDL_MAGIC : DTZ_MAGIC)) return false;
    if (bool(flags & 2) != material.hasPawns || material.pieceCount > MAX_TABLE_PIECES) return false;
    out.kind = kind;
    out.fileGroups = material.hasPawns ? 4 : 1;
    // A distance table stores one side to move whatever the split bit says.
    out.sides = kind == TableKind::Wdl && (flags & 1) ? 2 : 1;
    bool bothPawns = material.hasPawns && material.count[0][1] > 0 && material.count[1][1] > 0;

    int leadingCode = -1;
    for (int t = 0; t < out.fileGroups; t++) {
        uint8_t order = c.u8();
        uint8_t order2 = bothPawns ? c.u8() : 0xFF;
        const uint8_t* pieces = c.take(material.pieceCount);
        if (!c.ok) return false;
        for (int side = 0; side < out.sides; side++) {
            int shift = 4 * side;
            PieceEncoding& e = out.sub[t][side].encoding;
            if (!readEncoding(e, pieces, shift, (order >> shift) & 15, (order2 >> shift) & 15, t, material))
                return false;
            // Every file group must lead with the pawns of the same colour.
            if (material.hasPawns && leadingCode >= 0 && e.pieces[0] != leadingCode) return false;
            leadingCode = e.pieces[0];
        }
    }
    if (c.at & 1) c.take(1);

    for (int t = 0; t < out.fileGroups; t++)
        for (int side = 0; side < out.sides; side++)
            if (!parsePairHeader(c, out.sub[t][side], kind)) return false;

    for (int t = 0; t < out.fileGroups; t++) {
        ValueMaps& maps = out.maps[t];
        maps = {};
        const SubTable& s = out.sub[t][0];
        if (kind != TableKind::Dtz || s.singleValue || !(s.flags & 2)) continue;
        maps.wide = s.flags & 16;
        if (maps.wide && (c.at & 1)) c.take(1);
        for (int i = 0; i < 4; i++) {
            maps.count[i] = maps.wide ? c.u16() : c.u8();
            maps.start[i] = c.take(uint64_t(maps.count[i]) * (maps.wide ? 2 : 1));
        }
    }
    if (c.at & 1) c.take(1);

    for (int t = 0; t < out.fileGroups; t++)
        for (int side = 0; side < out.sides; side++) {
            SubTable& s = out.sub[t][side];
            if (s.singleValue) continue;
            if (s.sparseEntries > size / 6) return false;
            s.sparseIndex = c.take(6 * s.sparseEntries);
        }
    for (int t = 0; t < out.fileGroups; t++)
        for (int side = 0; side < out.sides; side++) {
            SubTable& s = out.sub[t][side];
            if (!s.singleValue) s.blockLengths = c.take(2 * uint64_t(s.lengthEntries));
        }
    for (int t = 0; t < out.fileGroups; t++)
        for (int side = 0; side < out.sides; side++) {
            SubTable& s = out.sub[t][side];
            if (s.singleValue) continue;
            c.alignTo(64);
            uint64_t bytes = uint64_t(s.blocks) << s.blockLog;
            s.data = c.take(bytes);
        }
    return c.ok;
}

int readStoredValue(const SubTable& s, uint64_t index) {
    if (s.singleValue) return s.constant;
    if (index >= s.encoding.size) return -1;

    // The sparse index names the block holding the middle of the index's
    // span; walk from there by the blocks' value counts.
    uint64_t entry = index >> s.indexBits;
    if (entry >= s.sparseEntries) return -1;
    const uint8_t* e = s.sparseIndex + 6 * entry;
    uint64_t block = readU32(e);
    int64_t lit = int64_t(index & ((uint64_t(1) << s.indexBits) - 1)) - (int64_t(1) << (s.indexBits - 1)) +
                  readU16(e + 4);
    // The entry may name one of the `extra` blocks past the data, from which
    // the walk leads back into it.
    if (block >= s.lengthEntries) return -1;
    auto valuesIn = [&](uint64_t b) { return int64_t(readU16(s.blockLengths + 2 * b)) + 1; };
    while (lit < 0) {
        if (block == 0) return -1;
        block--;
        lit += valuesIn(block);
    }
    while (lit >= valuesIn(block)) {
        lit -= valuesIn(block);
        if (++block >= s.lengthEntries) return -1;
    }
    if (block >= s.blocks) return -1;

    // Decode symbols from the start of the block until the one whose run
    // holds the value. The stream is read most significant bit first.
    const uint8_t* p = s.data + (block << s.blockLog);
    const uint8_t* end = p + (uint64_t(1) << s.blockLog);
    uint64_t bitsLeft = uint64_t(8) << s.blockLog;
    uint64_t window = 0;
    int held = 0;
    uint32_t sym;
    for (;;) {
        while (held <= 56) {
            uint64_t byte = p < end ? *p++ : 0;
            window |= byte << (56 - held);
            held += 8;
        }
        int len = s.minLength;
        uint64_t code = 0;
        for (; len <= s.maxLength; len++) {
            code = window >> (64 - len);
            if (int64_t(code) >= s.base[len]) break;
        }
        if (len > s.maxLength || uint64_t(len) > bitsLeft) return -1;
        int64_t number = readU16(s.firstSymbol + 2 * (len - s.minLength)) + (int64_t(code) - s.base[len]);
        if (number < 0 || number >= s.symbolCount) return -1;
        sym = uint32_t(number);
        window <<= len;
        held -= len;
        bitsLeft -= uint64_t(len);
        if (lit <= int64_t(s.runLength[sym])) break;
        lit -= int64_t(s.runLength[sym]) + 1;
    }
    // Descend the pair grammar to the leaf (the grammar has no cycles).
    while (symbolRight(s, sym) != LEAF) {
        uint32_t left = symbolLeft(s, sym);
        if (lit <= int64_t(s.runLength[left])) {
            sym = left;
        } else {
            lit -= int64_t(s.runLength[left]) + 1;
            sym = symbolRight(s, sym);
        }
    }
    return int(symbolLeft(s, sym));
}
